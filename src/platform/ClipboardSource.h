#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

namespace quillary {

// The system clipboard as the clipboard saver reads it: a counter of its changes, the types it
// offers and their data. Only the clipboard proper, never the X11 primary selection. Called on the
// main thread only.
class ClipboardSource {
public:
    // The clipboard of the running QGuiApplication; null without one.
    static std::unique_ptr<ClipboardSource> createDefault();
    // The clipboard of the Wayland session in $WAYLAND_DISPLAY, read through the compositor's
    // clipboard-manager protocol on a connection of its own, whatever platform Qt's windows use;
    // null without such a session or protocol. `protocolName` receives the protocol's name.
    static std::unique_ptr<ClipboardSource> createWayland(QString* protocolName = nullptr);

    virtual ~ClipboardSource() = default;

    // Grows by one with every change of the clipboard's content; 0 at creation, so whatever is on
    // the clipboard then counts as already seen.
    virtual qint64 changeCount() const = 0;
    // The MIME types on offer now.
    virtual QStringList formats() const = 0;
    // The content in `mimeType`, empty when it is not on offer or cannot be had.
    virtual QByteArray data(const QString& mimeType) const = 0;
    // Why a background program cannot read the clipboard in this session, or empty when it can.
    virtual QString unavailableReason() const = 0;

protected:
    ClipboardSource() = default;
    ClipboardSource(const ClipboardSource&) = delete;
    ClipboardSource& operator=(const ClipboardSource&) = delete;
};

} // namespace quillary
