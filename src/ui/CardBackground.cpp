#include "ui/CardBackground.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#endif

namespace quillary {

void paintCardBackground(QPainter& painter, const QRectF& rect, bool backdropBlurred)
{
    const QColor fill = backdropBlurred ? QColor::fromRgbF(0.12f, 0.12f, 0.13f, 0.62f)
                                        : QColor::fromRgbF(0.118f, 0.118f, 0.125f, 0.82f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, kCardCornerRadius, kCardCornerRadius);
    // A 1-pixel stroke centred on the edge would lose its outer half; inset it by half a pixel.
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.10f), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), kCardCornerRadius - 0.5,
                            kCardCornerRadius - 0.5);
    painter.restore();
}

#if QT_CONFIG(xcb)
namespace {

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t existingAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 1, std::strlen(name), name);
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

} // namespace
#endif

bool requestBlurBehind(QWidget* window, qreal cornerRadius)
{
#if QT_CONFIG(xcb)
    // The offscreen platform offers the X11 interface too, without a connection.
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || QGuiApplication::platformName() != u"xcb" || !window ||
        !window->testAttribute(Qt::WA_WState_Created))
        return false;
    xcb_connection_t* connection = x11->connection();
    if (!connection)
        return false;
    const xcb_atom_t atom = existingAtom(connection, "_KDE_NET_WM_BLUR_BEHIND_REGION");
    if (atom == XCB_ATOM_NONE || !rootWindowAnnounces(connection, atom))
        return false;

    // The property is in device pixels: rectangles x, y, width, height approximating the rounded card.
    const qreal ratio = window->devicePixelRatioF();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(window->size()) * ratio), cornerRadius * ratio,
                         cornerRadius * ratio);
    const QRegion region(shape.toFillPolygon().toPolygon());
    std::vector<std::uint32_t> rects;
    for (const QRect& rect : region) {
        rects.insert(rects.end(), {std::uint32_t(rect.x()), std::uint32_t(rect.y()),
                                   std::uint32_t(rect.width()), std::uint32_t(rect.height())});
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), atom,
                        XCB_ATOM_CARDINAL, 32, std::uint32_t(rects.size()), rects.data());
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(cornerRadius);
    return false;
#endif
}

} // namespace quillary
