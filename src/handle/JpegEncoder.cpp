#include "handle/JpegEncoder.h"

#include <QIODevice>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace quillary {
namespace {

// QImage's 32-bit formats keep 0xAARRGGBB in native byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kPixelFormat = TJPF_BGRX;
#else
constexpr int kPixelFormat = TJPF_XRGB;
#endif

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

// Lays straight or premultiplied ARGB32 on white, in place: out = c·a + 255·(1 − a).
void flattenOntoWhite(QImage& image)
{
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = row[x];
            const unsigned alpha = qAlpha(pixel);
            if (alpha == 255)
                continue;
            const unsigned white = 255 - alpha;
            const auto blend = [&](unsigned channel) {
                return premultiplied ? channel + white : (channel * alpha + 255 * white + 127) / 255;
            };
            row[x] = qRgb(int(blend(qRed(pixel))), int(blend(qGreen(pixel))), int(blend(qBlue(pixel))));
        }
    }
}

// `image` as 32-bit pixels with no transparency left.
QImage opaquePixels(QImage image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
        return image;
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (image.format() == QImage::Format_RGB32)
            return image;
    }
    flattenOntoWhite(image);
    image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

// Qt gives an image read without a resolution the screen's default; that one is not written.
bool hasOwnResolution(const QImage& image)
{
    const QImage plain(1, 1, QImage::Format_RGB32);
    return image.dotsPerMeterX() != plain.dotsPerMeterX() || image.dotsPerMeterY() != plain.dotsPerMeterY();
}

quint16 dotsPerInch(int dotsPerMeter)
{
    return quint16(std::clamp(std::lround(dotsPerMeter * 0.0254), 1L, 65535L));
}

struct Density {
    quint16 x = 0;
    quint16 y = 0;
};

// TurboJPEG always writes a JFIF APP0 segment with a 1:1 aspect ratio; its density fields are set in
// place: bytes 13 (units, 1 = dots per inch), 14–15 and 16–17 (big-endian X and Y density).
void setJfifDensity(unsigned char* jpeg, unsigned long size, Density density)
{
    static constexpr unsigned char kJfifStart[] = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    if (size < 18 || !std::equal(std::begin(kJfifStart), std::end(kJfifStart), jpeg))
        return;
    const auto [x, y] = density;
    jpeg[13] = 1;
    jpeg[14] = static_cast<unsigned char>(x >> 8);
    jpeg[15] = static_cast<unsigned char>(x & 0xff);
    jpeg[16] = static_cast<unsigned char>(y >> 8);
    jpeg[17] = static_cast<unsigned char>(y & 0xff);
}

} // namespace

bool writeJpeg(QImage image, QIODevice& output)
{
    if (image.isNull())
        return false;
    std::optional<Density> density;
    if (hasOwnResolution(image))
        density = Density{dotsPerInch(image.dotsPerMeterX()), dotsPerInch(image.dotsPerMeterY())};
    image = opaquePixels(std::move(image));
    if (image.isNull())
        return false;

    const std::unique_ptr<void, TjHandleDeleter> compressor(tjInitCompress());
    if (!compressor)
        return false;
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    const int status =
        tjCompress2(compressor.get(), image.constBits(), image.width(), int(image.bytesPerLine()),
                    image.height(), kPixelFormat, &encoded, &encodedSize, TJSAMP_444, kJpegQuality, 0);
    const std::unique_ptr<unsigned char, TjBufferDeleter> jpeg(encoded);
    if (status != 0 || !jpeg)
        return false;
    image = QImage(); // the pixels are no longer needed while the file is written
    if (density)
        setJfifDensity(jpeg.get(), encodedSize, *density);
    return output.write(reinterpret_cast<const char*>(jpeg.get()), qint64(encodedSize)) ==
           qint64(encodedSize);
}

} // namespace quillary
