#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace quillary {

inline constexpr int kJpegQuality = 90;

// `image` as a baseline JPEG of quality kJpegQuality without chroma subsampling, so the coloured
// text of screenshots keeps sharp edges. Transparent parts are laid on white. The image's resolution
// becomes the JFIF density unless it is the default Qt gives images without one. Taken by value so
// that an unshared image is flattened in place, without a copy.
std::optional<QByteArray> encodeJpeg(QImage image);

// The image file behind `fd` encoded as above, or nothing when it does not decode whole (truncated,
// damaged, not an image, over the decoding caps). The file is read from its start without moving the
// offset of `fd`. A non-interlaced PNG is inflated on the calling thread while a helper thread encodes
// the rows already read (with `useHelperThread` false, strip by strip on the calling thread alone, for
// callers that keep every core busy with a file each); other files are decoded whole first.
std::optional<QByteArray> encodeJpegFile(int fd, bool useHelperThread = true);

} // namespace quillary
