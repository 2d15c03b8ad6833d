#include "ui/CopiedToast.h"

#include "ui/CopiedToastView.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QTransform>
#include <QWidget>

#if QT_CONFIG(xcb) && defined(Q_OS_LINUX)
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#endif

namespace quillary {
namespace {

#if QT_CONFIG(xcb) && defined(Q_OS_LINUX)
xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t x11Atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void setCardinals(QWidget& window, const char* property, const std::vector<uint32_t>& values)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const xcb_atom_t atom = x11Atom(connection, property);
    if (atom == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()), atom,
                        XCB_ATOM_CARDINAL, 32, static_cast<uint32_t>(values.size()), values.data());
    xcb_flush(connection);
}
#endif

// Window managers drop _NET_WM_DESKTOP when a window is withdrawn, so this goes before every map.
void showOnEveryDesktop(QWidget& window)
{
#if QT_CONFIG(xcb) && defined(Q_OS_LINUX)
    setCardinals(window, "_NET_WM_DESKTOP", {0xFFFFFFFFu});
#else
    Q_UNUSED(window);
#endif
}

// KWin blurs what lies behind these rectangles (device pixels); other window managers ignore it.
void blurBehind(QWidget& window, const QPainterPath& shape)
{
#if QT_CONFIG(xcb) && defined(Q_OS_LINUX)
    const qreal ratio = window.devicePixelRatioF();
    const QRegion region(QTransform::fromScale(ratio, ratio).map(shape).toFillPolygon().toPolygon());
    std::vector<uint32_t> rects;
    for (const QRect& rect : region) {
        rects.insert(rects.end(),
                     {static_cast<uint32_t>(rect.x()), static_cast<uint32_t>(rect.y()),
                      static_cast<uint32_t>(rect.width()), static_cast<uint32_t>(rect.height())});
    }
    if (!rects.empty())
        setCardinals(window, "_KDE_NET_WM_BLUR_BEHIND_REGION", rects);
#else
    Q_UNUSED(window);
    Q_UNUSED(shape);
#endif
}

QPoint centredOnPrimaryScreen(QSize size)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect area = screen->availableGeometry();
    return {area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2};
}

} // namespace

QPoint copiedToastTopLeft(const QList<QRect>& screenGeometries, const QList<QRect>& availableGeometries,
                          QPoint pointer, QSize size, QPoint previous)
{
    for (qsizetype i = 0; i < screenGeometries.size(); ++i) {
        if (!screenGeometries.at(i).contains(pointer))
            continue;
        const QRect area = availableGeometries.value(i, screenGeometries.at(i));
        return {area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2};
    }
    return previous;
}

CopiedToast::CopiedToast(CopiedToastTiming timing, QObject* parent)
    : QObject(parent)
    , m_timing(timing)
{
}

CopiedToast::~CopiedToast() = default;

void CopiedToast::createPanel()
{
    m_panel =
        std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                               Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    m_panel->setAttribute(Qt::WA_ShowWithoutActivating);
    m_panel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_panel->setAttribute(Qt::WA_TranslucentBackground);
    m_panel->setFocusPolicy(Qt::NoFocus);
    m_panel->setFixedSize(panelSize);
    m_panel->setWindowTitle(CopiedToastView::message());

    m_view = new CopiedToastView(m_panel.get());
    m_view->setGeometry(m_panel->rect());

    m_fadeIn = new QPropertyAnimation(m_panel.get(), "windowOpacity", m_panel.get());
    m_fadeIn->setDuration(static_cast<int>(m_timing.fadeIn.count()));
    m_fadeIn->setStartValue(0.0);
    m_fadeIn->setEndValue(1.0);
    m_fadeOut = new QPropertyAnimation(m_panel.get(), "windowOpacity", m_panel.get());
    m_fadeOut->setDuration(static_cast<int>(m_timing.fadeOut.count()));
    m_fadeOut->setEndValue(0.0);
    connect(m_fadeOut, &QAbstractAnimation::finished, m_panel.get(), &QWidget::hide);

    m_panel->move(centredOnPrimaryScreen(panelSize));
    m_panel->winId(); // the native window must exist before its X11 properties can be set
}

void CopiedToast::show(QPoint pointerPos)
{
    if (!m_panel)
        createPanel();

    QList<QRect> geometries;
    QList<QRect> available;
    for (const QScreen* screen : QGuiApplication::screens()) {
        geometries.append(screen->geometry());
        available.append(screen->availableGeometry());
    }
    m_panel->move(copiedToastTopLeft(geometries, available, pointerPos, panelSize, m_panel->pos()));

    m_fadeOut->stop();
    m_fadeIn->stop();
    m_panel->setWindowOpacity(0.0);
    if (!m_panel->isVisible()) {
        showOnEveryDesktop(*m_panel);
        blurBehind(*m_panel, m_view->capsulePath()); // in device pixels of the screen it is on now
        m_panel->show();
    }
    m_fadeIn->start();
    QTimer::singleShot(m_timing.hideAfter, Qt::PreciseTimer, this, &CopiedToast::hide);
}

void CopiedToast::hide()
{
    if (!m_panel || !m_panel->isVisible() || m_fadeOut->state() == QAbstractAnimation::Running)
        return;
    m_fadeIn->stop();
    m_fadeOut->setStartValue(m_panel->windowOpacity());
    m_fadeOut->start();
}

} // namespace quillary
