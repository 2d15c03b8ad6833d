#include "ui/widgets/ToggleSwitch.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QVariantAnimation>

namespace quillary {
namespace {

constexpr QSize kTrackSize{38, 22};
constexpr int kKnobInset = 2;

} // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent)
    , m_slide(new QVariantAnimation(this))
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    m_slide->setDuration(120);
    connect(m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_knobPosition = value.toReal();
        update();
    });
}

// Called by every setChecked, also one made with the signals blocked (a binding following the store).
void ToggleSwitch::checkStateSet()
{
    const qreal target = isChecked() ? 1.0 : 0.0;
    m_slide->stop();
    if (!isVisible() || m_knobPosition == target) {
        m_knobPosition = target;
        update();
        return;
    }
    m_slide->setStartValue(m_knobPosition);
    m_slide->setEndValue(target);
    m_slide->start();
}

QSize ToggleSwitch::sizeHint() const
{
    return kTrackSize + QSize(4, 4); // room for the focus ring
}

bool ToggleSwitch::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(QPointF((width() - kTrackSize.width()) / 2.0, (height() - kTrackSize.height()) / 2.0),
                       kTrackSize);
    const qreal radius = track.height() / 2;
    const QPalette& colors = palette();

    QColor off = colors.color(QPalette::WindowText);
    off.setAlphaF(0.22);
    const QColor on = colors.color(QPalette::Highlight);
    QColor fill = on;
    fill.setRedF(off.redF() + (on.redF() - off.redF()) * m_knobPosition);
    fill.setGreenF(off.greenF() + (on.greenF() - off.greenF()) * m_knobPosition);
    fill.setBlueF(off.blueF() + (on.blueF() - off.blueF()) * m_knobPosition);
    fill.setAlphaF(off.alphaF() + (on.alphaF() - off.alphaF()) * m_knobPosition);
    if (!isEnabled())
        fill.setAlphaF(fill.alphaF() * 0.5);

    if (hasFocus()) {
        QColor ring = on;
        ring.setAlphaF(0.5);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), radius + 1.5, radius + 1.5);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobSide = track.height() - 2 * kKnobInset;
    const qreal travel = track.width() - 2 * kKnobInset - knobSide;
    const QRectF knob(track.left() + kKnobInset + travel * m_knobPosition, track.top() + kKnobInset, knobSide,
                      knobSide);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.75));
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(235, 235, 235));
    painter.drawEllipse(knob);
}

} // namespace quillary
