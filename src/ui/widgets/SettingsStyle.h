#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace quillary::style {

// `base` at `pixels` logical pixels and `weight`. Sizes in the settings window are pixels, never
// points, so the window looks the same at every font DPI setting.
QFont font(const QFont& base, int pixels, QFont::Weight weight = QFont::Normal);

// The palette's text colour at `opacity`.
QColor withOpacity(QColor color, qreal opacity);
// Text that says less than the text beside it: captions, subtitles.
QColor secondaryText(const QPalette& palette);
// The accent: the palette's highlight.
QColor accent(const QPalette& palette);
// Draws `widget`'s text in the secondary colour of `source`.
void useSecondaryText(QWidget& widget, const QPalette& source);

// The named colours of the rows' icon tiles, legible on light and dark backgrounds.
inline const QColor green{52, 199, 89};
inline const QColor red{255, 59, 48};
inline const QColor blue{0, 122, 255};
inline const QColor orange{255, 149, 0};
inline const QColor purple{175, 82, 222};
inline const QColor mint{0, 199, 190};

} // namespace quillary::style
