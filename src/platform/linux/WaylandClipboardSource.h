#pragma once

#include "platform/ClipboardSource.h"

#include <chrono>
#include <optional>

namespace quillary {

// Reads the pipe `fd` to its end. Nothing when the writer has not closed it within `timeout`, when
// it holds more than `cap` bytes, or when reading fails: a part of an image is no image.
std::optional<QByteArray> readPipeToEnd(int fd, std::chrono::milliseconds timeout, qint64 cap);

// The clipboard of a Wayland seat through the compositor's clipboard-manager protocol
// (ext-data-control-v1, else wlr-data-control-unstable-v1), which tells a client of every change of
// the selection without the focus. It keeps a Wayland connection of its own, independent of the one
// Qt's windows may use (or not, under XWayland), and dispatches it on a thread of its own.
class WaylandClipboardSource final : public ClipboardSource {
public:
    static constexpr std::chrono::milliseconds readTimeout{2000};
    static constexpr qint64 readCap = qint64(256) << 20;

    // Connects to $WAYLAND_DISPLAY; null without one, or when the compositor offers neither protocol
    // or no seat.
    static std::unique_ptr<WaylandClipboardSource> connect();
    // Stops the thread and closes the connection.
    ~WaylandClipboardSource() override;

    // The protocol used, e.g. "wlr-data-control-unstable-v1".
    QString protocolName() const;

    qint64 changeCount() const override;
    QStringList formats() const override;
    // Asks the owner of the clipboard for the content and waits for it, readTimeout at most.
    QByteArray data(const QString& mimeType) const override;
    QString unavailableReason() const override { return {}; }

    struct Connection;

private:
    explicit WaylandClipboardSource(std::unique_ptr<Connection> connection);

    std::unique_ptr<Connection> m_connection;
};

} // namespace quillary
