#include "ui/widgets/ToggleSwitch.h"

#include "ui/widgets/SettingsStyle.h"

#include <QPainter>
#include <QStyle>
#include <QVariantAnimation>

namespace quillary {
namespace {

constexpr QSize kTrackSize{38, 22};
constexpr int kRingRoom = 3; // around the track, for the focus ring
constexpr int kKnobInset = 2;
constexpr int kSlideMilliseconds = 120;

QColor mixed(const QColor& from, const QColor& to, qreal amount)
{
    const auto mix = [amount](qreal a, qreal b) { return a + (b - a) * amount; };
    return QColor::fromRgbF(float(mix(from.redF(), to.redF())), float(mix(from.greenF(), to.greenF())),
                            float(mix(from.blueF(), to.blueF())), float(mix(from.alphaF(), to.alphaF())));
}

} // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent)
    , m_slide(new QVariantAnimation(this))
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    m_slide->setDuration(kSlideMilliseconds);
    m_slide->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_slide, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(m_slide, &QVariantAnimation::finished, this, qOverload<>(&QWidget::update));
}

QSize ToggleSwitch::sizeHint() const
{
    return kTrackSize + QSize(2 * kRingRoom, 2 * kRingRoom);
}

QSize ToggleSwitch::minimumSizeHint() const
{
    return sizeHint();
}

bool ToggleSwitch::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

// setChecked calls this even while signals are blocked, as the preference bindings block them.
void ToggleSwitch::checkStateSet()
{
    QAbstractButton::checkStateSet();
    const qreal to = isChecked() ? 1.0 : 0.0;
    // The knob rests at the other end, or turns back from where a running slide has taken it.
    const qreal from = m_slide->state() == QAbstractAnimation::Running ? knobPosition() : 1.0 - to;
    m_slide->stop();
    if (isVisible() && from != to &&
        style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, this) > 0) {
        m_slide->setStartValue(from);
        m_slide->setEndValue(to);
        m_slide->start();
    }
    update();
}

qreal ToggleSwitch::knobPosition() const
{
    if (m_slide->state() == QAbstractAnimation::Running)
        return m_slide->currentValue().toReal();
    return isChecked() ? 1.0 : 0.0;
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    // Whole pixels, so the straight edges stay sharp at every scale.
    const QRect track(QPoint((width() - kTrackSize.width()) / 2, (height() - kTrackSize.height()) / 2),
                      kTrackSize);
    const qreal radius = track.height() / 2.0;
    const QColor text = palette().color(QPalette::WindowText);
    const QColor accent = style::accent(palette());
    const qreal position = knobPosition();

    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(style::withOpacity(accent, 0.55), 2));
        painter.setBrush(Qt::NoBrush);
        const QRectF ring = QRectF(track).adjusted(-2, -2, 2, 2);
        painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(mixed(style::withOpacity(text, 0.2), accent, position));
    painter.drawRoundedRect(track, radius, radius);
    if (isEnabled() && (isDown() || underMouse())) {
        painter.setBrush(style::withOpacity(text, isDown() ? 0.14 : 0.07));
        painter.drawRoundedRect(track, radius, radius);
    }

    const int knobSide = track.height() - 2 * kKnobInset;
    const qreal travel = track.width() - 2 * kKnobInset - knobSide;
    const QRectF knob(track.left() + kKnobInset + travel * position, track.top() + kKnobInset, knobSide,
                      knobSide);
    painter.setBrush(QColor(0, 0, 0, 45));
    painter.drawEllipse(knob.adjusted(-0.5, -0.25, 0.5, 0.75));
    painter.setBrush(isDown() ? QColor(236, 236, 236) : QColor(Qt::white));
    painter.drawEllipse(knob);
}

} // namespace quillary
