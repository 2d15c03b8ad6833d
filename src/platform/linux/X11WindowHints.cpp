#include "platform/WindowHints.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QTransform>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace quillary {
namespace {

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* x11Connection()
{
    // The offscreen platform offers the X11 interface too, without a connection.
    if (!qGuiApp || QGuiApplication::platformName() != u"xcb")
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name, bool onlyIfExists)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, onlyIfExists ? 1 : 0, static_cast<uint16_t>(std::strlen(name)), name);
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// KWin's blur effect sets its property on the root window while it is loaded.
bool rootWindowAnnounces(xcb_connection_t* connection, xcb_atom_t atom)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    const Reply<xcb_list_properties_reply_t> reply(
        xcb_list_properties_reply(connection, xcb_list_properties(connection, screen->root), nullptr));
    if (!reply)
        return false;
    const xcb_atom_t* atoms = xcb_list_properties_atoms(reply.get());
    const int count = xcb_list_properties_atoms_length(reply.get());
    return std::find(atoms, atoms + count, atom) != atoms + count;
}

void setCardinals(xcb_connection_t* connection, QWidget& window, xcb_atom_t property,
                  const std::vector<std::uint32_t>& values)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                        property, XCB_ATOM_CARDINAL, 32, static_cast<std::uint32_t>(values.size()),
                        values.data());
    xcb_flush(connection);
}

// The first CARDINAL of `window`'s property `name`, when it has one.
std::optional<std::uint32_t> cardinalOf(xcb_connection_t* connection, xcb_window_t window, const char* name)
{
    const xcb_atom_t atom = atomNamed(connection, name, true);
    if (atom == XCB_ATOM_NONE)
        return std::nullopt;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

// Whether the X server is XWayland: it announces an extension of that name (and names its outputs
// after itself, which older releases without the extension did too).
bool serverIsXWayland(xcb_connection_t* connection)
{
    static constexpr char kName[] = "XWAYLAND";
    const Reply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(
        connection, xcb_query_extension(connection, sizeof kName - 1, kName), nullptr));
    if (reply && reply->present)
        return true;
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [](const QScreen* screen) { return screen->name().startsWith(QLatin1String(kName)); });
}

} // namespace

Qt::WindowFlags selfPlacedWindowFlags()
{
    xcb_connection_t* connection = x11Connection();
    static const bool xwayland = connection && serverIsXWayland(connection);
    return xwayland ? Qt::X11BypassWindowManagerHint : Qt::WindowFlags();
}

bool setBlurBehind(QWidget& window, const QPainterPath& shape)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window.testAttribute(Qt::WA_WState_Created))
        return false;
    const xcb_atom_t atom = atomNamed(connection, "_KDE_NET_WM_BLUR_BEHIND_REGION", true);
    if (atom == XCB_ATOM_NONE || !rootWindowAnnounces(connection, atom))
        return false;
    // The property holds x, y, width, height rectangles in device pixels.
    const qreal ratio = window.devicePixelRatioF();
    const QRegion region(QTransform::fromScale(ratio, ratio).map(shape).toFillPolygon().toPolygon());
    std::vector<std::uint32_t> rects;
    for (const QRect& rect : region) {
        rects.insert(rects.end(), {std::uint32_t(rect.x()), std::uint32_t(rect.y()),
                                   std::uint32_t(rect.width()), std::uint32_t(rect.height())});
    }
    if (rects.empty())
        return false;
    setCardinals(connection, window, atom, rects);
    return true;
}

void moveToCurrentDesktop(QWidget& window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window.testAttribute(Qt::WA_WState_Created))
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t atom = atomNamed(connection, "_NET_WM_DESKTOP", false);
    if (!screen || atom == XCB_ATOM_NONE)
        return;
    const std::optional<std::uint32_t> desktop = cardinalOf(connection, screen->root, "_NET_CURRENT_DESKTOP");
    if (!desktop)
        return;
    // The property is what a window manager reads when it maps the window; once the window is mapped,
    // only a request to the root window moves it (EWMH _NET_WM_DESKTOP; source 2: the user's action).
    setCardinals(connection, window, atom, {*desktop});
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window.winId());
    message.type = atom;
    message.data.data32[0] = *desktop;
    message.data.data32[1] = 2;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

void showOnEveryDesktop(QWidget& window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    if (const xcb_atom_t atom = atomNamed(connection, "_NET_WM_DESKTOP", false); atom != XCB_ATOM_NONE)
        setCardinals(connection, window, atom, {0xFFFFFFFFu});
}

} // namespace quillary
