#include "ui/widgets/SettingsStyle.h"

#include <QWidget>

namespace quillary::style {

QFont font(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont result = base;
    result.setPixelSize(pixels);
    result.setWeight(weight);
    return result;
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

QColor secondaryText(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::WindowText), 0.55);
}

QColor accent(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

void useSecondaryText(QWidget& widget, const QPalette& source)
{
    QPalette colors = widget.palette();
    colors.setColor(QPalette::WindowText, secondaryText(source));
    widget.setPalette(colors);
}

} // namespace quillary::style
