#include "platform/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace quillary {
namespace {

// A StatusNotifierItem host (KDE, GNOME's AppIndicator extension, most modern panels).
bool statusNotifierHostRegistered()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

// An XEmbed system tray (older panels, trayer, stalonetray): the owner of _NET_SYSTEM_TRAY_S<n>.
bool xembedTrayPresent()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    int screen = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        if (const char* dot = std::strrchr(display, '.'); dot && std::strchr(display, ':') < dot)
            screen = std::atoi(dot + 1);
    }
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

class LinuxTrayHostWatcher final : public TrayHostWatcher {
public:
    LinuxTrayHostWatcher()
    {
        // Polling is cheap (one bus call and one X round trip a second) and sees both kinds of host
        // whichever way they announce themselves.
        m_poll.setInterval(1000);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            if (isHostAvailable()) {
                m_poll.stop();
                emit hostAppeared();
            }
        });
    }

    bool isHostAvailable() const override { return statusNotifierHostRegistered() || xembedTrayPresent(); }

    void watchForHost() override { m_poll.start(); }

private:
    QTimer m_poll;
};

} // namespace

std::unique_ptr<TrayHostWatcher> TrayHostWatcher::create()
{
    return std::make_unique<LinuxTrayHostWatcher>();
}

} // namespace quillary
