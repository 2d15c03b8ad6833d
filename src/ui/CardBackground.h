#pragma once

#include <QRectF>

class QPainter;
class QWidget;

namespace quillary {

inline constexpr qreal kCardCornerRadius = 15.0;

// The floating card's background: a dark translucent rounded rectangle with a faint white hairline.
// Over a compositor blur the fill is lighter, so the blurred desktop shows through.
void paintCardBackground(QPainter& painter, const QRectF& rect, bool backdropBlurred);

// Asks the compositor to blur what lies behind `window` within the card's rounded shape. Only KWin on
// X11 offers this (it announces `_KDE_NET_WM_BLUR_BEHIND_REGION` on the root window); everywhere else,
// or before the native window exists, nothing is set. True when the blur was requested.
bool requestBlurBehind(QWidget* window, qreal cornerRadius = kCardCornerRadius);

} // namespace quillary
