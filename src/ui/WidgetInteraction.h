#pragma once

#include "core/Interaction.h"

namespace quillary {

// Alerts as message boxes and locations through the desktop's URL handlers.
class WidgetInteraction final : public Interaction {
public:
    int runModal(const ModalAlert& alert) override;
    std::optional<QString> runTextPrompt(const ModalAlert& alert, const QString& placeholder) override;
    void openUrl(const QUrl& url) override;
    std::optional<QUrl> chooseFolder(const QString& message, const QString& prompt) override;
    void beep() override;
};

} // namespace quillary
