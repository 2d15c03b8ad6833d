#include "ui/settings/SidebarButton.h"

#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/SymbolIcon.h"

#include <QPainter>

namespace quillary {
namespace {

constexpr int kPaddingV = 8;
constexpr int kPaddingH = 10;
constexpr int kSymbolWidth = 18;
constexpr int kSidebarSymbolSide = 13;
constexpr int kSpacing = 10;

} // namespace

SidebarButton::SidebarButton(const QString& symbol, const QString& title, QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
{
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SidebarButton::sizeHint() const
{
    const QFontMetrics metrics(style::font(font(), 13, QFont::DemiBold));
    return {kPaddingH * 2 + kSymbolWidth + kSpacing + metrics.horizontalAdvance(text()),
            heightForWidth(width() > 0 ? width() : 148)};
}

bool SidebarButton::hasHeightForWidth() const
{
    return true;
}

// A title wider than the entry wraps onto a second line, which makes the entry taller, rather than
// being cut off; measured in the selected (semibold) weight so selecting never changes the height.
int SidebarButton::heightForWidth(int width) const
{
    const QFontMetrics metrics(style::font(font(), 13, QFont::DemiBold));
    const QRect text =
        metrics.boundingRect(QRect(0, 0, textWidth(width), 10000), Qt::TextWordWrap, this->text());
    return kPaddingV * 2 + std::max(text.height(), kSidebarSymbolSide);
}

int SidebarButton::textWidth(int width)
{
    return std::max(1, width - kPaddingH * 2 - kSymbolWidth - kSpacing);
}

void SidebarButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool selected = isChecked();
    if (selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::withOpacity(style::accent(palette()), 0.85));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    } else if (underMouse()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::withOpacity(palette().color(QPalette::WindowText), 0.06));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    if (hasFocus()) {
        painter.setPen(QPen(style::withOpacity(style::accent(palette()), 0.6), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
    }
    const QColor symbolColor = selected ? QColor(Qt::white) : style::secondaryText(palette());
    const QRect symbolBox(kPaddingH, 0, kSymbolWidth, height());
    const QPixmap symbol =
        symbolIcon(m_symbol, symbolColor, kSidebarSymbolSide).pixmap(kSidebarSymbolSide, kSidebarSymbolSide);
    painter.drawPixmap(
        QRect(QPoint(symbolBox.center().x() - kSidebarSymbolSide / 2, (height() - kSidebarSymbolSide) / 2),
              QSize(kSidebarSymbolSide, kSidebarSymbolSide)),
        symbol);
    painter.setFont(style::font(font(), 13, selected ? QFont::DemiBold : QFont::Normal));
    painter.setPen(selected ? QColor(Qt::white) : palette().color(QPalette::WindowText));
    const QRect textBox(kPaddingH + kSymbolWidth + kSpacing, 0, textWidth(width()), height());
    painter.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text());
}

} // namespace quillary
