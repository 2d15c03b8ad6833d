#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace quillary {

// The contents of a modal alert: a message, details, and buttons with the default first.
struct ModalAlert {
    QString messageText;
    QString informativeText;
    QStringList buttons;
};

// What the application asks of the user's session: alerts, opening locations, the alert sound.
// Tests put a recording fake in its place so they never block on a dialog.
class Interaction {
public:
    virtual ~Interaction() = default;

    // Shows the alert and waits; returns the index of the chosen button, or -1 when none was.
    virtual int runModal(const ModalAlert& alert) = 0;
    // The alert with a one-line text field under its texts, the application brought to the front
    // first. Returns the field's text when the first button was chosen, nothing otherwise.
    virtual std::optional<QString> runTextPrompt(const ModalAlert& alert, const QString& placeholder) = 0;
    virtual void openUrl(const QUrl& url) = 0;
    // A folder chooser with `message` above it and `prompt` on its confirm button; the folder chosen,
    // or nothing when cancelled.
    virtual std::optional<QUrl> chooseFolder(const QString& message, const QString& prompt) = 0;
    // The system alert sound, for a request that was refused.
    virtual void beep() = 0;

protected:
    Interaction() = default;
};

} // namespace quillary
