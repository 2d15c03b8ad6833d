#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSize>

#include <cstdint>
#include <optional>

namespace quillary {

// Caps on what is decoded, checked against the header before any pixel is read, so a file that
// merely claims to be huge cannot exhaust memory.
inline constexpr int kMaxImageSide = 32768;
inline constexpr std::int64_t kMaxDecodedImageBytes = std::int64_t(1) << 30;
// Qt's own cap on one image allocation, in MiB; its default of 128 refuses large 5K and 8K captures.
inline constexpr int kImageAllocationLimitMiB = 1024;
// The largest file read whole to be decoded.
inline constexpr std::int64_t kMaxImageFileBytes = 2 * kMaxDecodedImageBytes;

// Sets Qt's allocation limit to kImageAllocationLimitMiB. Called once at start, before any decoding.
void applyImageDecodingLimits();

// Whether an image of `width` × `height` stays within the caps at `bytesPerPixel`.
bool fitsDecodingLimits(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel);
// The same at 4 bytes per pixel.
bool fitsDecodingLimits(QSize size);
// The same for the image `reader` is about to decode, at the bytes per pixel of the format it decodes
// to (8 for a 16-bit PNG), and never fewer than 4.
bool fitsDecodingLimits(const QImageReader& reader);

// The whole image in `file`, upright, or nothing when it is not an image, over the caps, or not
// complete (truncated, still being written, corrupt data).
std::optional<QImage> decodeCompleteImage(const QByteArray& file);

} // namespace quillary
