#pragma once

#include <QImage>

class QIODevice;

namespace quillary {

inline constexpr int kJpegQuality = 90;

// Writes `image` to `output` as a baseline JPEG of quality kJpegQuality without chroma subsampling,
// so the coloured text of screenshots keeps sharp edges. Transparent parts are laid on white. The
// image's resolution becomes the JFIF density unless it is the default Qt gives images without one.
// The image is taken by value so that an unshared one is flattened in place, without a copy.
bool writeJpeg(QImage image, QIODevice& output);

} // namespace quillary
