#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace quillary {

// The card's thumbnail is this many points square, decoded at no more than twice that in pixels.
inline constexpr int kThumbnailSide = 80;
inline constexpr int kMaxThumbnailPixels = 2 * kThumbnailSide;

// The stored size of the image at `path` when Qt can read its header and the image stays within the
// decoding limits. Only the header is read.
std::optional<QSize> readableImageSize(const QString& path);

// The image at `path` scaled to fill a square of `side` pixels: aspect kept, centred, the overflow
// cropped. JPEG decodes straight at that size; other formats are decoded whole and then scaled, which
// takes a few hundred milliseconds for an 8K PNG, so call this off the UI thread. Null when the file
// cannot be decoded.
QImage decodeThumbnail(const QString& path, int side);

// `image` with its corners rounded by `radius` pixels, transparent outside. Safe on any thread.
QImage withRoundedCorners(const QImage& image, qreal radius);

} // namespace quillary
