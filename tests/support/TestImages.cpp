#include "support/TestImages.h"

#include <QBuffer>
#include <QtEndian>

#include <zlib.h>

namespace quillary::test {

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
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

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace quillary::test
