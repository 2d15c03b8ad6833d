// Qt's clipboard serves every platform whose clipboard a program can read without the focus: X11,
// and XWayland on a Wayland session. Built on every platform.
#include "platform/ClipboardSource.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>

namespace quillary {
namespace {

class QtClipboardSource final : public ClipboardSource {
public:
    explicit QtClipboardSource(QClipboard* clipboard)
        : m_clipboard(clipboard)
    {
        // Counted from the change signal: Qt has no change counter, and an owner that sets the same
        // content again is a change all the same.
        m_connection = QObject::connect(m_clipboard, &QClipboard::changed, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ++m_changes;
        });
    }

    ~QtClipboardSource() override { QObject::disconnect(m_connection); }

    qint64 changeCount() const override { return m_changes; }

    QStringList formats() const override
    {
        const QMimeData* content = m_clipboard->mimeData(QClipboard::Clipboard);
        return content ? content->formats() : QStringList{};
    }

    QByteArray data(const QString& mimeType) const override
    {
        const QMimeData* content = m_clipboard->mimeData(QClipboard::Clipboard);
        return content ? content->data(mimeType) : QByteArray{};
    }

    QString unavailableReason() const override
    {
        // A native Wayland client sees the clipboard only while one of its windows has the focus.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            return QStringLiteral("Clipboard saving needs X11 or XWayland; on this Wayland session the "
                                  "clipboard is only readable while a Quillary window has the focus. "
                                  "Start Quillary with QT_QPA_PLATFORM=xcb to save clipboard images");
        return {};
    }

private:
    QClipboard* m_clipboard;
    QMetaObject::Connection m_connection;
    qint64 m_changes = 0;
};

} // namespace

std::unique_ptr<ClipboardSource> ClipboardSource::createDefault()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return nullptr;
    return std::make_unique<QtClipboardSource>(clipboard);
}

} // namespace quillary
