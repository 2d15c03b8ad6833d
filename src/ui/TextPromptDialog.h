#pragma once

#include "core/Interaction.h"

#include <QDialog>

class QLineEdit;

namespace quillary {

// A modal alert with a one-line text field: message, informative text, the field, and the alert's
// buttons with the first as the default.
class TextPromptDialog final : public QDialog {
    Q_OBJECT

public:
    TextPromptDialog(const ModalAlert& alert, const QString& placeholder, QWidget* parent = nullptr);

    QString text() const;

private:
    QLineEdit* m_field = nullptr;
};

} // namespace quillary
