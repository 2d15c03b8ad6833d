#include "handle/ImageLimits.h"

#include <QBuffer>
#include <QImageReader>

namespace quillary {

void applyImageDecodingLimits()
{
    QImageReader::setAllocationLimit(kImageAllocationLimitMiB);
}

bool fitsDecodingLimits(QSize size)
{
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxImageSide ||
        size.height() > kMaxImageSide)
        return false;
    return std::int64_t(size.width()) * size.height() * 4 <= kMaxDecodedImageBytes;
}

namespace {

// Qt decodes a truncated JPEG without failing, filling the rest with grey: a whole one ends with its
// end-of-image marker (zero padding after it is allowed).
bool jpegEndsWithEOI(QByteArrayView file)
{
    QByteArrayView tail = file.last(std::min<qsizetype>(file.size(), 64));
    while (tail.endsWith('\0'))
        tail.chop(1);
    return tail.endsWith("\xff\xd9");
}

bool pngEndsWithIEND(QByteArrayView file)
{
    return file.endsWith(QByteArrayView("\0\0\0\0IEND\xae\x42\x60\x82", 12));
}

} // namespace

std::optional<QImage> decodeCompleteImage(const QByteArray& file)
{
    QBuffer buffer;
    buffer.setData(file);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return std::nullopt;
    const QByteArray format = reader.format();
    // Every reader we ship reports the size from the header; one that does not is not trusted.
    if (!fitsDecodingLimits(reader.size()))
        return std::nullopt;
    if (format == "png" && !pngEndsWithIEND(file))
        return std::nullopt;
    if (format == "jpeg" && !jpegEndsWithEOI(file))
        return std::nullopt;
    QImage image;
    // read() fails on a truncated or corrupt PNG but still leaves the rows it got in the image.
    if (!reader.read(&image) || image.isNull() || !fitsDecodingLimits(image.size()))
        return std::nullopt;
    return image;
}

} // namespace quillary
