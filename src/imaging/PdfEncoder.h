#pragma once

#include <QByteArray>

class QIODevice;

namespace quillary {

// Writes a one-page PDF holding the whole image in `file`, pixel for pixel. The page measures the
// image at its own resolution (72 dpi when the file states none) and the image fills it.
// An 8- or 16-bit opaque, non-interlaced PNG goes in with its compressed data as it is, without
// decoding, once that data is found to inflate to every row; anything else is decoded and stored
// Flate-compressed, its alpha as a soft mask. Images over the caps of ImageLimits.h are refused before
// any decoding. JPEGs are turned upright. Returns false when the file cannot be decoded completely, or
// on a write error; bytes may have been written by then. Safe to call from several threads at once.
bool writePdf(const QByteArray& file, QIODevice& output);

// The same for the file behind `fd`, read whole from its start without moving the offset of `fd`;
// false for a file over kMaxImageFileBytes.
bool writePdfFile(int fd, QIODevice& output);

} // namespace quillary
