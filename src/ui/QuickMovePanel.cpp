#include "ui/QuickMovePanel.h"

#include "ui/CardBackground.h"
#include "ui/QuickMovePopup.h"

#include "platform/WindowHints.h"

#include <QScreen>

#include <algorithm>

namespace quillary {
namespace {

constexpr int kRightMargin = 10;
constexpr int kBottomMargin = 160;

} // namespace

QPoint quickMovePanelTopLeft(const QRect& availableGeometry, const QSize& panelSize)
{
    const int right = availableGeometry.x() + availableGeometry.width() - kRightMargin;
    const int bottom = availableGeometry.y() + availableGeometry.height() - kBottomMargin;
    return {std::max(availableGeometry.x(), right - panelSize.width()),
            std::max(availableGeometry.y(), bottom - panelSize.height())};
}

QuickMovePanel::QuickMovePanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | selfPlacedWindowFlags())
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

QuickMovePanel::~QuickMovePanel() = default;

QuickMovePopup* QuickMovePanel::content() const
{
    return m_content.data();
}

void QuickMovePanel::setContent(QuickMovePopup* content)
{
    if (content == m_content)
        return;
    if (m_content) {
        // Deleted later: the card may be replaced from inside one of its own button handlers.
        m_content->hide();
        m_content->disconnect(this);
        m_content->deleteLater();
    }
    m_content = content;
    if (content) {
        content->setParent(this);
        content->move(0, 0);
        content->setBackdropBlurred(m_backdropBlurred);
        connect(content, &QuickMovePopup::contentSizeChanged, this, &QuickMovePanel::fitToContent);
        content->show();
    }
    fitToContent();
}

void QuickMovePanel::placeOnScreen(QScreen* screen)
{
    disconnect(m_screenConnection);
    m_screen = screen;
    if (screen) {
        setScreen(screen);
        m_screenConnection =
            connect(screen, &QScreen::availableGeometryChanged, this, &QuickMovePanel::fitToContent);
    }
    fitToContent();
}

void QuickMovePanel::showWithoutActivating()
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A window manager may have minimised the panel ("show desktop"); show() alone keeps it so.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    // Shown again, the card comes to the desktop the user is on, and to the front.
    winId();
    show();
    moveToCurrentDesktop(*this);
    raise();
}

void QuickMovePanel::fitToContent()
{
    const QSize size = m_content ? m_content->size() : QSize(0, 0);
    // A fixed size tells a tiling compositor that places the card itself (native Wayland) to float it
    // at that size rather than stretch it over a tile.
    setFixedSize(size);
    if (m_screen)
        move(quickMovePanelTopLeft(m_screen->availableGeometry(), size));
}

void QuickMovePanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateBlurBehind();
}

void QuickMovePanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (testAttribute(Qt::WA_WState_Created))
        updateBlurBehind();
}

void QuickMovePanel::updateBlurBehind()
{
    m_backdropBlurred = requestBlurBehind(this);
    if (m_content)
        m_content->setBackdropBlurred(m_backdropBlurred);
}

} // namespace quillary
