#include "ui/CopiedToast.h"

#include "ui/CopiedToastView.h"

#include "platform/WindowHints.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QTransform>
#include <QWidget>

namespace quillary {
namespace {

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
    m_panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                     Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                                                     Qt::WindowTransparentForInput | selfPlacedWindowFlags());
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
        setBlurBehind(*m_panel, m_view->capsulePath());
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
