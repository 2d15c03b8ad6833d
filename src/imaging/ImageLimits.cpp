#include "imaging/ImageLimits.h"

#include "imaging/FileBytes.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PngChunks.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>

namespace quillary {

void applyImageDecodingLimits()
{
    QImageReader::setAllocationLimit(kImageAllocationLimitMiB);
}

bool fitsDecodingLimits(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel)
{
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height * bytesPerPixel <= kMaxDecodedImageBytes;
}

bool fitsDecodingLimits(QSize size)
{
    return fitsDecodingLimits(size.width(), size.height(), 4);
}

bool fitsDecodingLimits(const QImageReader& reader)
{
    const QSize size = reader.size();
    if (!fitsDecodingLimits(size))
        return false;
    // Asked only of a header that reads: Qt's JPEG reader leaves the format undefined for one it refuses.
    const int format = reader.imageFormat();
    const int bits = format > QImage::Format_Invalid && format < QImage::NImageFormats
                         ? QImage::toPixelFormat(QImage::Format(format)).bitsPerPixel()
                         : 0;
    return fitsDecodingLimits(size.width(), size.height(), std::max(4, (bits + 7) / 8));
}

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
    // Checked first: libpng reads the header's chunks whole at the lengths they state, so a short file
    // whose chunk claims a gigabyte would have it allocate that much to find out the size.
    if (format == "png" && pngFileEnd(MemoryBytes(file)) != PngFileEnd::complete)
        return std::nullopt;
    // Every reader we ship reports the size from the header; one that does not is not trusted.
    if (!fitsDecodingLimits(reader))
        return std::nullopt;
    // Qt decodes a truncated JPEG without failing, filling the rest with grey.
    if (format == "jpeg" && !jpegIsComplete(file))
        return std::nullopt;
    QImage image;
    // read() fails on a truncated or corrupt PNG but still leaves the rows it got in the image.
    if (!reader.read(&image) || image.isNull() || !fitsDecodingLimits(image.size()))
        return std::nullopt;
    return image;
}

} // namespace quillary
