#include "ui/widgets/SettingsCard.h"

#include "ui/widgets/CardDivider.h"
#include "ui/widgets/SettingsStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quillary {
namespace {

constexpr int kPadding = 14;
constexpr qreal kCardRadius = 10;

} // namespace

SettingsCard::SettingsCard(QWidget* parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    m_layout->setSpacing(0);
    // Preferred, not Maximum: a row whose subtitle wraps needs more height than the card's size hint.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SettingsCard::addWidget(QWidget* content)
{
    m_layout->addWidget(content);
}

void SettingsCard::addDivider()
{
    m_layout->addWidget(new CardDivider(this));
}

void SettingsCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(style::withOpacity(palette().color(QPalette::WindowText), 0.06), 1));
    painter.setBrush(style::withOpacity(palette().color(QPalette::Base), 0.5));
    painter.drawRoundedRect(frame, kCardRadius, kCardRadius);
}

} // namespace quillary
