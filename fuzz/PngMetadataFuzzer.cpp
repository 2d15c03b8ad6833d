// The PNG readers: the screen-capture flag, the chunk walk that tells whether a file is complete, the
// chunk reader the PDF encoder takes pixels over from (with its check of the compressed rows), the
// row reader the JPEG encoder streams from, and the decoding of a whole image. Every chunk CRC in the
// input is made right before most of the readers see it, or nearly every input would stop at the
// first CRC check.
#include "FuzzSupport.h"
#include "core/FileNames.h"
#include "detect/PngScreenCaptureFlag.h"
#include "imaging/FileBytes.h"
#include "imaging/ImageLimits.h"
#include "imaging/PngChunks.h"
#include "imaging/PngRowReader.h"
#include "imaging/ZlibStreams.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

using namespace quillary;

namespace {

QByteArray withRightCrcs(QByteArray png)
{
    qsizetype at = qsizetype(kPngSignature.size());
    while (png.size() - at >= 12) {
        const auto* head = reinterpret_cast<const unsigned char*>(png.constData() + at);
        const quint64 length =
            quint64(head[0]) << 24 | quint64(head[1]) << 16 | quint64(head[2]) << 8 | head[3];
        if (length > quint64(png.size() - at - 12))
            break;
        const auto crc = crc32(0, head + 4, uInt(length + 4));
        char* crcAt = png.data() + at + 8 + qsizetype(length);
        for (int i = 0; i < 4; ++i)
            crcAt[i] = char(crc >> (24 - 8 * i));
        at += 12 + qsizetype(length);
    }
    return png;
}

// What inflatesToWholeRows answers, worked out the plain way: the whole stream inflated at once.
std::optional<bool> inflatesToWholeRowsAtOnce(const PngChunks& png)
{
    static constexpr int kSamples[] = {1, 0, 3, 1, 2, 0, 4};
    const PngHeader& header = png.header;
    const quint64 rowSize =
        1 + (quint64(header.width) * kSamples[header.colourType] * header.bitDepth + 7) / 8;
    const quint64 expected = rowSize * header.height;
    if (expected > 16 * 1024 * 1024)
        return std::nullopt; // too slow to be worth it
    QByteArray compressed;
    for (const QByteArrayView piece : png.imageData)
        compressed += piece;
    QByteArray rows(qsizetype(expected) + 1, Qt::Uninitialized);
    uLongf produced = uLongf(rows.size());
    uLong consumed = uLong(compressed.size());
    if (uncompress2(reinterpret_cast<Bytef*>(rows.data()), &produced,
                    reinterpret_cast<const Bytef*>(compressed.constData()), &consumed) != Z_OK ||
        produced != expected || consumed != uLong(compressed.size()))
        return false;
    for (quint64 row = 0; row < header.height; ++row) {
        if (quint8(rows[qsizetype(row * rowSize)]) > 4)
            return false;
    }
    return true;
}

void checkChunks(const QByteArray& file)
{
    const std::optional<PngChunks> png = readPngChunks(file);
    if (!png)
        return;
    const PngHeader& header = png->header;
    FUZZ_CHECK(header.width > 0 && header.width <= kMaxPngChunkLength);
    FUZZ_CHECK(header.height > 0 && header.height <= kMaxPngChunkLength);
    FUZZ_CHECK(png->palette.size() % 3 == 0 && png->palette.size() <= 3 * 256);
    FUZZ_CHECK(png->palette.isEmpty() || (header.colourType != 0 && header.colourType != 4));
    FUZZ_CHECK(header.colourType != 3 || !png->palette.isEmpty());
    FUZZ_CHECK(!png->imageData.empty());
    const char* const begin = file.constData();
    const char* const end = begin + file.size();
    for (const QByteArrayView piece : png->imageData)
        FUZZ_CHECK(piece.data() >= begin && piece.data() + piece.size() <= end);
    if (!png->palette.isEmpty())
        FUZZ_CHECK(png->palette.data() >= begin && png->palette.data() + png->palette.size() <= end);

    // The PDF encoder takes over non-interlaced grey, RGB and palette images only.
    const bool takesOver =
        !header.interlaced && (header.colourType == 0 || header.colourType == 2 || header.colourType == 3);
    if (takesOver) {
        const bool whole = inflatesToWholeRows(*png);
        if (const std::optional<bool> expected = inflatesToWholeRowsAtOnce(*png))
            FUZZ_CHECK(whole == *expected);
    }
}

void checkRowReader(int fd, const std::optional<PngChunks>& chunks)
{
    PngRowReader reader(fd);
    if (!reader.open())
        return;
    const QSize size = reader.size();
    FUZZ_CHECK(fitsDecodingLimits(size));
    FUZZ_CHECK(reader.bytesPerPixel() == 3 || reader.bytesPerPixel() == 4);
    if (chunks)
        FUZZ_CHECK(size == QSize(int(chunks->header.width), int(chunks->header.height)));
    std::vector<unsigned char> row(std::size_t(size.width()) * std::size_t(reader.bytesPerPixel()));
    bool ok = true;
    for (int y = 0; ok && y < size.height(); ++y)
        ok = reader.readRows(row.data(), 1, row.size());
    if (ok)
        (void)reader.finish();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startApplication();
    applyImageDecodingLimits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A real file: the readers refuse to follow links, as /proc/self/fd/N would be.
    static const QString fdPath = fuzz::scratchFolder() + QStringLiteral("/input.png");
    static const int fd = ::open(toNativePath(fdPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // The same bytes with more after them, to see what can and cannot change when a file grows.
    const QByteArray grown = input + input + QByteArray(16, '\0');

    const std::optional<bool> flag = pngScreenCaptureFlagFromBytes({data, size});
    static constexpr std::uint8_t kHeader[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                               0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    // Past the signature and a whole IHDR chunk, the answer is true or false.
    if (size >= 33 && std::memcmp(data, kHeader, sizeof kHeader) == 0)
        FUZZ_CHECK(flag.has_value());
    const std::optional<bool> grownFlag = pngScreenCaptureFlagFromBytes(
        {reinterpret_cast<const std::uint8_t*>(grown.constData()), std::size_t(grown.size())});
    FUZZ_CHECK(!flag || grownFlag);
    FUZZ_CHECK(flag != true || grownFlag == true);

    const PngFileEnd end = pngFileEnd(MemoryBytes(QByteArrayView(input)));
    FUZZ_CHECK(end != PngFileEnd::unreadable);
    if (end == PngFileEnd::complete)
        FUZZ_CHECK(pngFileEnd(MemoryBytes(QByteArrayView(grown))) == PngFileEnd::complete);

    // The readers of files by name see what the readers of memory see.
    const QByteArray repaired = withRightCrcs(input);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, repaired.constData(), std::size_t(repaired.size()), 0) == repaired.size());
    const std::optional<bool> repairedFlag = pngScreenCaptureFlagFromBytes(
        {reinterpret_cast<const std::uint8_t*>(repaired.constData()), std::size_t(repaired.size())});
    FUZZ_CHECK(pngScreenCaptureFlag(fdPath) == repairedFlag);
    FUZZ_CHECK(pngFileEnd(fdPath) == pngFileEnd(MemoryBytes(QByteArrayView(repaired))));

    checkChunks(input);
    checkChunks(repaired);
    const std::optional<PngChunks> chunks = readPngChunks(repaired);
    checkRowReader(fd, chunks);

    if (hasPngSignature(repaired)) {
        if (const std::optional<QImage> image = decodeCompleteImage(repaired)) {
            FUZZ_CHECK(fitsDecodingLimits(image->size()));
            FUZZ_CHECK(pngFileEnd(MemoryBytes(QByteArrayView(repaired))) == PngFileEnd::complete);
            if (chunks) {
                const QSize stated(int(chunks->header.width), int(chunks->header.height));
                FUZZ_CHECK(image->size() == stated || image->size() == stated.transposed());
            }
        }
    }
    return 0;
}
