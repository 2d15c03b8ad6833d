#include "handle/ImageLimits.h"

#include "detect/PngScreenCaptureFlag.h"

#include <QFile>
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

bool jpegEndsWithEOI(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    constexpr qint64 tailSize = 64;
    const qint64 size = file.size();
    if (!file.seek(std::max<qint64>(0, size - tailSize)))
        return false;
    QByteArray tail = file.read(tailSize);
    while (tail.endsWith('\0'))
        tail.chop(1);
    return tail.endsWith("\xff\xd9");
}

std::optional<QImage> decodeCompleteImage(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return std::nullopt;
    const QByteArray format = reader.format();
    // Every reader we ship reports the size from the header; one that does not is not trusted.
    if (!fitsDecodingLimits(reader.size()))
        return std::nullopt;
    if (format == "png" && !pngEndsWithIEND(path))
        return std::nullopt;
    if (format == "jpeg" && !jpegEndsWithEOI(path))
        return std::nullopt;
    QImage image;
    // read() fails on a truncated or corrupt PNG but still leaves the rows it got in the image.
    if (!reader.read(&image) || image.isNull() || !fitsDecodingLimits(image.size()))
        return std::nullopt;
    return image;
}

} // namespace quillary
