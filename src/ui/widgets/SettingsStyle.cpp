#include "ui/widgets/SettingsStyle.h"

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

} // namespace quillary::style
