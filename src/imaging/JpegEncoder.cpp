#include "imaging/JpegEncoder.h"

#include "imaging/FileBytes.h"
#include "imaging/ImageLimits.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PngRowReader.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillary {
namespace {

// QImage's 32-bit formats keep 0xAARRGGBB in native byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kQImagePixelFormat = TJPF_BGRX;
#else
constexpr int kQImagePixelFormat = TJPF_XRGB;
#endif

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

struct Density {
    quint16 x = 0;
    quint16 y = 0;
};

std::optional<Density> densityOf(QSize dotsPerMeter)
{
    if (dotsPerMeter.width() <= 0 || dotsPerMeter.height() <= 0)
        return std::nullopt;
    const auto perInch = [](int perMeter) {
        return quint16(std::clamp(std::lround(perMeter * 0.0254), 1L, 65535L));
    };
    return Density{perInch(dotsPerMeter.width()), perInch(dotsPerMeter.height())};
}

// TurboJPEG always starts with a JFIF APP0 segment of aspect ratio 1:1; its density fields are set in
// place: byte 13 (units, 1 = dots per inch), 14–15 and 16–17 (big-endian X and Y density).
void setJfifDensity(QByteArray& jpeg, Density density)
{
    static constexpr char kJfifStart[] = "\xff\xd8\xff\xe0\x00\x10JFIF";
    if (jpeg.size() < 18 || !jpeg.startsWith(QByteArray::fromRawData(kJfifStart, sizeof kJfifStart)))
        return;
    jpeg[13] = 1;
    jpeg[14] = char(density.x >> 8);
    jpeg[15] = char(density.x & 0xff);
    jpeg[16] = char(density.y >> 8);
    jpeg[17] = char(density.y & 0xff);
}

// out = c·a + 255·(1 − a), the same for every layout below.
inline unsigned overWhite(unsigned channel, unsigned alpha)
{
    return (channel * alpha + 255 * (255 - alpha) + 127) / 255;
}

// Straight or premultiplied ARGB32 laid on white, in place.
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
            const auto blend = [&](unsigned channel) {
                return int(premultiplied ? channel + (255 - alpha) : overWhite(channel, alpha));
            };
            row[x] = qRgb(blend(qRed(pixel)), blend(qGreen(pixel)), blend(qBlue(pixel)));
        }
    }
}

// RGBA bytes laid on white, in place; the alpha bytes are left for the encoder to skip.
void flattenOntoWhite(unsigned char* pixels, std::size_t count)
{
    for (unsigned char* pixel = pixels; pixel != pixels + 4 * count; pixel += 4) {
        const unsigned alpha = pixel[3];
        if (alpha == 255)
            continue;
        for (int c = 0; c < 3; ++c)
            pixel[c] = static_cast<unsigned char>(overWhite(pixel[c], alpha));
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

std::optional<QByteArray> compress(void* compressor, const unsigned char* pixels, int width, int height,
                                   std::size_t stride, int pixelFormat)
{
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    const int status = tjCompress2(compressor, pixels, width, int(stride), height, pixelFormat, &encoded,
                                   &encodedSize, TJSAMP_444, kJpegQuality, 0);
    const TjBuffer jpeg(encoded);
    if (status != 0 || !jpeg ||
        encodedSize > static_cast<unsigned long>(std::numeric_limits<qsizetype>::max()))
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(jpeg.get()), qsizetype(encodedSize));
}

// Rows per strip: a multiple of the 8-row MCU of 4:4:4, and small enough that a strip of the widest
// image allowed, 4096 MCUs a row, stays within the 65535 MCUs a restart interval can count.
constexpr int kStripRows = 64;
static_assert((kMaxImageSide / 8) * (kStripRows / 8) <= 65535);

// Joins JPEGs that TurboJPEG made of consecutive strips into one image: each strip's entropy-coded
// data becomes a restart interval, which starts afresh exactly as a separate image does. Refuses
// strips whose tables or frame differ from the first's (TurboJPEG can be told to optimise tables or
// to write progressive files through the environment).
class StripJoiner final {
public:
    StripJoiner(QSize size, std::optional<Density> density)
        : m_size(size)
        , m_density(density)
    {
    }

    bool add(const QByteArray& strip)
    {
        const auto layout = layoutOf(strip);
        if (!layout)
            return false;
        QByteArray header = strip.left(layout->scanStart);
        header[layout->heightAt] = header[layout->heightAt + 1] = 0;
        const QByteArrayView scan(strip.constData() + layout->scanStart,
                                  strip.size() - layout->scanStart - 2);
        if (m_strips == 0) {
            m_header = header;
            m_joined = strip.left(layout->scanHeaderStart);
            m_joined[layout->heightAt] = char(m_size.height() >> 8);
            m_joined[layout->heightAt + 1] = char(m_size.height() & 0xff);
            const int interval = (m_size.width() + 7) / 8 * (kStripRows / 8);
            m_joined.append("\xff\xdd\x00\x04", 4).append(char(interval >> 8)).append(char(interval & 0xff));
            m_joined.append(strip.constData() + layout->scanHeaderStart,
                            layout->scanStart - layout->scanHeaderStart);
        } else {
            if (header != m_header)
                return false;
            m_joined.append(char(0xff)).append(char(0xd0 + (m_strips - 1) % 8));
        }
        m_joined.append(scan);
        ++m_strips;
        return true;
    }

    QByteArray finish()
    {
        m_joined.append("\xff\xd9", 2);
        if (m_density)
            setJfifDensity(m_joined, *m_density);
        return std::move(m_joined);
    }

private:
    struct Layout {
        qsizetype heightAt = 0;        // the frame's height, two bytes
        qsizetype scanHeaderStart = 0; // the SOS marker
        qsizetype scanStart = 0;       // the entropy-coded data after the SOS segment
    };

    // Where things are in a baseline JPEG of one scan, without restart intervals, that ends with EOI.
    static std::optional<Layout> layoutOf(const QByteArray& jpeg)
    {
        JpegMarkerWalker walker(jpeg);
        Layout layout;
        while (const auto marker = walker.next()) {
            const std::uint8_t code = marker->code;
            if (layout.scanStart != 0) // the marker after the scan
                return code == jpeg::kEoi && marker->end() == jpeg.size() ? std::optional(layout)
                                                                          : std::nullopt;
            if (code == jpeg::kSof0 && marker->segment.size() >= 5)
                layout.heightAt = marker->offset + 5;
            else if (code == jpeg::kDri ||
                     (code > jpeg::kSof0 && code <= 0xcf && code != jpeg::kDht && code != jpeg::kDac))
                return std::nullopt;
            if (code == jpeg::kSos) {
                if (layout.heightAt == 0)
                    return std::nullopt;
                layout.scanHeaderStart = marker->offset;
                layout.scanStart = marker->end();
            }
        }
        return std::nullopt;
    }

    QSize m_size;
    std::optional<Density> m_density;
    QByteArray m_header;
    QByteArray m_joined;
    int m_strips = 0;
};

struct Streamed {
    std::optional<QByteArray> jpeg;
    bool joinRefused = false; // TurboJPEG wrote strips that cannot be joined; the file itself was fine
};

// Decoding and encoding strip by strip, all on this thread through one buffer.
Streamed encodeStreamedAlone(PngRowReader& reader)
{
    const QSize size = reader.size();
    const int bytesPerPixel = reader.bytesPerPixel();
    const std::size_t stride = std::size_t(size.width()) * std::size_t(bytesPerPixel);
    std::vector<unsigned char> buffer(stride * kStripRows);
    const TjHandle compressor(tjInitCompress());
    if (!compressor)
        return {};
    StripJoiner joiner(size, reader.dotsPerMeter() ? densityOf(*reader.dotsPerMeter()) : std::nullopt);
    for (int top = 0; top < size.height(); top += kStripRows) {
        const int rows = std::min(kStripRows, size.height() - top);
        if (!reader.readRows(buffer.data(), rows, stride))
            return {};
        if (bytesPerPixel == 4)
            flattenOntoWhite(buffer.data(), std::size_t(size.width()) * std::size_t(rows));
        const auto jpeg = compress(compressor.get(), buffer.data(), size.width(), rows, stride,
                                   bytesPerPixel == 4 ? TJPF_RGBX : TJPF_RGB);
        if (!jpeg)
            return {};
        if (!joiner.add(*jpeg))
            return {std::nullopt, true};
    }
    if (!reader.finish())
        return {};
    return {joiner.finish(), false};
}

// Decoding on this thread and encoding on a helper, strip by strip through a few buffers.
Streamed encodeStreamed(PngRowReader& reader)
{
    const QSize size = reader.size();
    const int bytesPerPixel = reader.bytesPerPixel();
    const std::size_t stride = std::size_t(size.width()) * std::size_t(bytesPerPixel);
    const int strips = (size.height() + kStripRows - 1) / kStripRows;
    const auto rowsOf = [&](int strip) { return std::min(kStripRows, size.height() - strip * kStripRows); };
    constexpr int kBuffers = 3;
    std::vector<std::vector<unsigned char>> buffers(kBuffers,
                                                    std::vector<unsigned char>(stride * kStripRows));
    const TjHandle compressor(tjInitCompress());
    if (!compressor)
        return {};

    std::mutex mutex;
    std::condition_variable changed;
    int decoded = 0; // strips read
    int encoded = 0; // strips encoded, whose buffers are free again
    bool failed = false;
    bool joinRefused = false; // the helper's own until it is joined
    const auto publish = [&](int& counter, bool ok) {
        {
            const std::lock_guard lock(mutex);
            if (ok)
                ++counter;
            else
                failed = true;
        }
        changed.notify_all();
    };

    StripJoiner joiner(size, reader.dotsPerMeter() ? densityOf(*reader.dotsPerMeter()) : std::nullopt);
    std::thread encoder([&] {
        for (int strip = 0; strip < strips; ++strip) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return decoded > strip || failed; });
                if (failed)
                    return;
            }
            unsigned char* pixels = buffers[strip % kBuffers].data();
            if (bytesPerPixel == 4)
                flattenOntoWhite(pixels, std::size_t(size.width()) * std::size_t(rowsOf(strip)));
            const auto jpeg = compress(compressor.get(), pixels, size.width(), rowsOf(strip), stride,
                                       bytesPerPixel == 4 ? TJPF_RGBX : TJPF_RGB);
            joinRefused = jpeg && !joiner.add(*jpeg);
            publish(encoded, jpeg && !joinRefused);
        }
    });
    bool ok = true;
    for (int strip = 0; ok && strip < strips; ++strip) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return encoded > strip - kBuffers || failed; });
            if (failed) {
                ok = false;
                break;
            }
        }
        ok = reader.readRows(buffers[strip % kBuffers].data(), rowsOf(strip), stride);
        publish(decoded, ok);
    }
    ok = ok && reader.finish();
    if (!ok)
        publish(decoded, false);
    encoder.join();
    if (!ok || failed)
        return {std::nullopt, joinRefused};
    return {joiner.finish(), false};
}

// Qt gives an image read without a resolution the screen's default; that one is not written.
std::optional<Density> ownDensity(const QImage& image)
{
    const QImage plain(1, 1, QImage::Format_RGB32);
    if (image.dotsPerMeterX() == plain.dotsPerMeterX() && image.dotsPerMeterY() == plain.dotsPerMeterY())
        return std::nullopt;
    return densityOf(QSize(image.dotsPerMeterX(), image.dotsPerMeterY()));
}

} // namespace

std::optional<QByteArray> encodeJpeg(QImage image)
{
    if (image.isNull())
        return std::nullopt;
    const std::optional<Density> density = ownDensity(image);
    image = opaquePixels(std::move(image));
    const TjHandle compressor(tjInitCompress());
    if (image.isNull() || !compressor)
        return std::nullopt;
    auto jpeg = compress(compressor.get(), image.constBits(), image.width(), image.height(),
                         std::size_t(image.bytesPerLine()), kQImagePixelFormat);
    if (jpeg && density)
        setJfifDensity(*jpeg, *density);
    return jpeg;
}

std::optional<QByteArray> encodeJpegFile(int fd, bool useHelperThread)
{
    {
        PngRowReader reader(fd);
        if (reader.open()) {
            Streamed streamed = useHelperThread ? encodeStreamed(reader) : encodeStreamedAlone(reader);
            if (!streamed.joinRefused)
                return std::move(streamed.jpeg);
        }
    }
    const std::optional<QByteArray> file = readWholeFile(fd, kMaxImageFileBytes);
    std::optional<QImage> image = file ? decodeCompleteImage(*file) : std::nullopt;
    if (!image)
        return std::nullopt;
    return encodeJpeg(std::move(*image));
}

} // namespace quillary
