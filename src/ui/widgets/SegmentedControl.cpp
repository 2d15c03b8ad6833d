#include "ui/widgets/SegmentedControl.h"

#include "ui/widgets/SettingsStyle.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace quillary {
namespace {

constexpr int kRingRoom = 3; // around the body, for the focus ring
constexpr int kBodyHeight = 22;
constexpr qreal kControlRadius = 6;
constexpr int kLabelPadding = 12;
constexpr int kSeparatorInset = 5;
constexpr int kLabelPixels = 13;

// One segment: a radio button to the keyboard and to screen readers. The control draws it.
class Segment final : public QAbstractButton {
public:
    Segment(const QString& label, QWidget* parent)
        : QAbstractButton(parent)
    {
        setText(label);
        setCheckable(true);
        setAutoExclusive(true); // also what makes screen readers hear a radio button
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(style::font(font(), kLabelPixels));
        return {metrics.horizontalAdvance(text()) + 2 * kLabelPadding, kBodyHeight};
    }

protected:
    void paintEvent(QPaintEvent*) override {}
};

QAccessibleInterface* groupInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String(SegmentedControl::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(groupInterface), true);
    Q_UNUSED(factoryInstalled);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

void SegmentedControl::addSegment(const QString& label, const QString& value)
{
    auto* segment = new Segment(label, this);
    segment->installEventFilter(this);
    // A new widget joins the end of the window's focus chain: bring it to the control's place, so
    // Tab reaches the control where it was made. The proxy is lifted so it does not move the control.
    setFocusProxy(nullptr);
    QWidget::setTabOrder(m_segments.isEmpty() ? static_cast<QWidget*>(this) : m_segments.last(), segment);
    connect(segment, &QAbstractButton::clicked, this,
            [this, segment] { emit activated(m_values.value(m_segments.indexOf(segment))); });
    connect(segment, &QAbstractButton::toggled, this, [this] {
        updateTabStop();
        update();
    });
    m_segments.append(segment);
    m_values.append(value);
    segment->show();
    updateTabStop();
    placeSegments();
    updateGeometry();
}

QString SegmentedControl::value() const
{
    return m_values.value(chosenIndex());
}

void SegmentedControl::setValue(const QString& value)
{
    const qsizetype index = m_values.indexOf(value);
    if (index >= 0) {
        m_segments.at(index)->setChecked(true);
        return;
    }
    // An exclusive segment refuses to be unchecked: lift the rule while clearing.
    for (QAbstractButton* segment : std::as_const(m_segments)) {
        segment->setAutoExclusive(false);
        segment->setChecked(false);
        segment->setAutoExclusive(true);
    }
    updateTabStop();
    update();
}

int SegmentedControl::chosenIndex() const
{
    for (int i = 0; i < m_segments.size(); ++i)
        if (m_segments.at(i)->isChecked())
            return i;
    return -1;
}

void SegmentedControl::updateTabStop()
{
    const int stop = std::max(chosenIndex(), 0);
    for (int i = 0; i < m_segments.size(); ++i)
        m_segments.at(i)->setFocusPolicy(i == stop ? Qt::StrongFocus : Qt::ClickFocus);
    setFocusProxy(m_segments.value(stop));
}

bool SegmentedControl::step(QAbstractButton* from, int steps)
{
    const int target = int(m_segments.indexOf(from)) + steps;
    if (target < 0 || target >= m_segments.size())
        return false;
    QAbstractButton* segment = m_segments.at(target);
    segment->setFocus(steps < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    segment->click();
    return true;
}

bool SegmentedControl::eventFilter(QObject* watched, QEvent* event)
{
    auto* segment = qobject_cast<QAbstractButton*>(watched);
    if (!segment || !m_segments.contains(segment))
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int forward = layoutDirection() == Qt::RightToLeft ? -1 : 1;
        int steps = 0;
        if (key == Qt::Key_Left || key == Qt::Key_Up)
            steps = key == Qt::Key_Up ? -1 : -forward;
        else if (key == Qt::Key_Right || key == Qt::Key_Down)
            steps = key == Qt::Key_Down ? 1 : forward;
        if (steps == 0)
            break;
        step(segment, steps); // at either end the key does nothing, and goes nowhere else
        return true;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        update(); // the focus ring goes round the whole control
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

QSize SegmentedControl::sizeHint() const
{
    int widest = 0;
    for (const QAbstractButton* segment : m_segments)
        widest = std::max(widest, segment->sizeHint().width());
    return {int(m_segments.size()) * widest + 2 * kRingRoom, kBodyHeight + 2 * kRingRoom};
}

QSize SegmentedControl::minimumSizeHint() const
{
    return {int(m_segments.size()) * 2 * kLabelPadding + 2 * kRingRoom, kBodyHeight + 2 * kRingRoom};
}

void SegmentedControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeSegments();
}

// Equal widths in whole pixels; the rounding remainder goes to the first segments.
void SegmentedControl::placeSegments()
{
    if (m_segments.isEmpty())
        return;
    const QRect body = rect().adjusted(kRingRoom, kRingRoom, -kRingRoom, -kRingRoom);
    const int count = int(m_segments.size());
    int left = body.left();
    for (int i = 0; i < count; ++i) {
        const int width = body.width() / count + (i < body.width() % count ? 1 : 0);
        QRect area(left, body.top(), width, body.height());
        if (layoutDirection() == Qt::RightToLeft)
            area.moveLeft(body.left() + body.right() - area.right());
        m_segments.at(i)->setGeometry(area);
        left += width;
    }
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const QColor text = palette().color(QPalette::WindowText);
    const QColor accent = style::accent(palette());
    const QRectF body = QRectF(rect()).adjusted(kRingRoom, kRingRoom, -kRingRoom, -kRingRoom);
    QPainterPath outline;
    outline.addRoundedRect(body, kControlRadius, kControlRadius);

    const bool keyboardFocus = window()->testAttribute(Qt::WA_KeyboardFocusChange);
    QAbstractButton* focused = nullptr;
    for (QAbstractButton* segment : std::as_const(m_segments))
        if (segment->hasFocus())
            focused = segment;
    if (focused && keyboardFocus) {
        painter.setPen(QPen(style::withOpacity(accent, 0.55), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(-2, -2, 2, 2), kControlRadius + 2, kControlRadius + 2);
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withOpacity(text, 0.06));
    painter.drawPath(outline);

    // Fills reach the outer corners only: each is clipped to the body's rounded outline.
    painter.save();
    painter.setClipPath(outline);
    const int chosen = chosenIndex();
    for (int i = 0; i < m_segments.size(); ++i) {
        const QAbstractButton* segment = m_segments.at(i);
        const QRect area = segment->geometry();
        if (i == chosen)
            painter.fillRect(area, accent);
        else if (isEnabled() && (segment->isDown() || segment->underMouse()))
            painter.fillRect(area, style::withOpacity(text, segment->isDown() ? 0.12 : 0.06));
    }
    // 1 px separators between two segments that are not chosen, on whole pixels.
    for (int i = 1; i < m_segments.size(); ++i) {
        if (i == chosen || i - 1 == chosen)
            continue;
        const QRect area = m_segments.at(i)->geometry();
        const int x = layoutDirection() == Qt::RightToLeft ? area.right() + 1 : area.left();
        painter.fillRect(QRect(x, area.top() + kSeparatorInset, 1, area.height() - 2 * kSeparatorInset),
                         style::withOpacity(text, 0.16));
    }
    painter.restore();

    painter.setPen(QPen(style::withOpacity(text, 0.16), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), kControlRadius - 0.5, kControlRadius - 0.5);

    const QFont labelFont = style::font(font(), kLabelPixels);
    const QFontMetrics labelMetrics(labelFont);
    for (int i = 0; i < m_segments.size(); ++i) {
        const QAbstractButton* segment = m_segments.at(i);
        const QRect area = segment->geometry().adjusted(3, 0, -3, 0);
        // A label a little too wide for its segment first gets a pixel smaller, then is elided; all
        // labels share one baseline.
        const bool tight = labelMetrics.horizontalAdvance(segment->text()) > area.width();
        painter.setFont(tight ? style::font(font(), kLabelPixels - 1) : labelFont);
        const QString label = painter.fontMetrics().elidedText(segment->text(), Qt::ElideRight, area.width());
        const int baseline = area.top() + (area.height() - labelMetrics.height()) / 2 + labelMetrics.ascent();
        painter.setPen(i == chosen ? palette().color(QPalette::HighlightedText) : text);
        painter.drawText(
            QPoint(area.left() + (area.width() - painter.fontMetrics().horizontalAdvance(label)) / 2,
                   baseline),
            label);
        if (segment == focused && keyboardFocus && i != chosen) {
            painter.setPen(QPen(style::withOpacity(accent, 0.8), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(segment->geometry()).adjusted(2, 2, -2, -2), 4, 4);
        }
    }
}

} // namespace quillary
