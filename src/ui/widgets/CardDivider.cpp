#include "ui/widgets/CardDivider.h"

#include "ui/widgets/SettingsStyle.h"

#include <QPainter>

namespace quillary {
namespace {

constexpr int kIndent = 42;
constexpr int kVerticalPadding = 2;

} // namespace

CardDivider::CardDivider(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(2 * kVerticalPadding + 1);
}

QSize CardDivider::sizeHint() const
{
    return {kIndent + 1, 2 * kVerticalPadding + 1};
}

void CardDivider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRect(kIndent, kVerticalPadding, width() - kIndent, 1),
                     style::withOpacity(palette().color(QPalette::WindowText), 0.12));
}

} // namespace quillary
