#include "support/TestImages.h"

#include <QBuffer>
#include <QtEndian>

#include <zlib.h>

namespace quillary::test {

QByteArray bigEndian32(quint32 value)
{
    value = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), 4);
}

QByteArray zlibStream(const QByteArray& data)
{
    return qCompress(data).sliced(4); // without Qt's length in front
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    const QByteArray typeAndData = type + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), uInt(typeAndData.size()));
    return bigEndian32(quint32(data.size())) + typeAndData + bigEndian32(quint32(crc));
}

QByteArray pngStart(const QByteArray& header)
{
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header);
}

QByteArray tinyPng(const QByteArray& beforeData, const QByteArray& afterData)
{
    const QByteArray header = bigEndian32(2) + bigEndian32(2) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return pngStart(header) + beforeData + pngChunk("IDAT", zlibStream(QByteArray(2 * (1 + 2 * 3), '\x40'))) +
           afterData + pngChunk("IEND", {});
}

QImage pattern(QImage::Format format, int width, int height)
{
    const bool alpha = QImage(1, 1, format).hasAlphaChannel();
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y,
                                QColor::fromRgba64(x * 0xffff / width,
                                                   quint16(((x * 2654435761u) ^ (y * 40503u)) >> 8),
                                                   (y * 0xffff / height) ^ (x & 8 ? 0xff : 0),
                                                   alpha ? quint16(x * 977 + y * 131) : 0xffff));
    return image.convertToFormat(format);
}

QByteArray encoded(const QImage& image, const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

std::vector<std::pair<const char*, QByteArray>> imagesOfAbsurdSize()
{
    const auto png = [](quint32 width, quint32 height, const char* depthAndColour) {
        const QByteArray header =
            bigEndian32(width) + bigEndian32(height) + depthAndColour + QByteArray(3, '\0');
        return pngStart(header) + pngChunk("tEXt", QByteArray("Software\0gnome-screenshot", 25)) +
               pngChunk("IDAT", zlibStream(QByteArray(4096, '\0'))) + pngChunk("IEND", {});
    };
    const auto jpeg = [](quint16 width, quint16 height) {
        QByteArray file = encoded(pattern(QImage::Format_RGB32, 16, 16), "jpeg");
        const qsizetype frame = file.indexOf("\xff\xc0"); // length, precision, then height and width
        file.replace(frame + 5, 4, bigEndian32(quint32(height) << 16 | width));
        return file;
    };
    return {
        {"PNG of 100,000 x 100,000", png(100'000, 100'000, "\x08\x06")},
        {"PNG one pixel wider than the side cap", png(32'769, 1, "\x08\x02")},
        {"PNG of 2^31-1 x 2^31-1", png(0x7fffffff, 0x7fffffff, "\x08\x06")},
        {"PNG of 30,000 x 30,000", png(30'000, 30'000, "\x08\x06")},
        {"16-bit PNG of 16,384 x 16,384 (2 GiB decoded)", png(16'384, 16'384, "\x10\x06")},
        {"JPEG of 65,535 x 65,535", jpeg(65'535, 65'535)},
        {"JPEG of 30,000 x 30,000", jpeg(30'000, 30'000)},
    };
}

} // namespace quillary::test
