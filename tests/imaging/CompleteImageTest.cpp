#include "core/FileNames.h"
#include "imaging/FileBytes.h"
#include "imaging/ImageLimits.h"
#include "imaging/JpegEncoder.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace quillary {
namespace {

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x ^ y) & 0xff));
    return image;
}

// Complete means the chunks lead to a whole IEND; what follows it does not matter.
TEST(PngFileEnd, AFileIsCompleteOnceItsChunksReachIEND)
{
    const QByteArray complete = test::encoded(gradient(40, 30), "png");
    const QByteArray iend = test::pngChunk("IEND", {});
    const QByteArray body = complete.chopped(iend.size());
    const QByteArray signature = complete.left(8);
    const std::tuple<const char*, QByteArray, PngFileEnd> cases[] = {
        {"as written", complete, PngFileEnd::complete},
        {"16 zero bytes after IEND", complete + QByteArray(16, '\0'), PngFileEnd::complete},
        {"a chunk's worth after IEND", complete + test::pngChunk("tEXt", "Comment\0x"), PngFileEnd::complete},
        {"text chunk between IDAT and IEND", test::tinyPng({}, test::pngChunk("tEXt", "a\0b")),
         PngFileEnd::complete},
        {"IEND cut short", complete.chopped(1), PngFileEnd::unfinished},
        {"no IEND", body, PngFileEnd::unfinished},
        {"an IDAT cut short", body.chopped(5), PngFileEnd::unfinished},
        {"IEND bytes at the end of a chunk cut short", body.chopped(20) + iend, PngFileEnd::unfinished},
        {"a length over 2^31-1", signature + test::bigEndian32(0x80000000) + "IDAT" + iend,
         PngFileEnd::unfinished},
        {"IEND with a wrong CRC", complete.chopped(1) + '\x83', PngFileEnd::unfinished},
        {"signature only", signature, PngFileEnd::unfinished},
        {"part of the signature", signature.left(5), PngFileEnd::unfinished},
        {"empty", {}, PngFileEnd::unfinished},
        {"a JPEG", "\xff\xd8\xff\xe0 a JPEG", PngFileEnd::notPng},
    };
    QTemporaryDir dir;
    for (const auto& [name, bytes, expected] : cases) {
        test::writeFile(dir.filePath("file"), bytes);
        EXPECT_EQ(pngFileEnd(dir.filePath("file")), expected) << name;
        EXPECT_EQ(pngFileEnd(MemoryBytes(bytes)), expected) << name;
    }
    EXPECT_EQ(pngFileEnd(dir.filePath("missing.png")), PngFileEnd::unreadable);
}

// Complete means the markers lead through a scan to EOI: a segment is skipped by its length, so an
// EOI inside one (an embedded thumbnail's) does not count.
TEST(JpegIsComplete, TheMarkersLeadThroughAScanToEOI)
{
    const QByteArray jpeg = test::encoded(gradient(64, 48), "jpeg");
    const QByteArray thumbnail = test::encoded(gradient(8, 6), "jpeg");
    const QByteArray app1 = "\xff\xe1" + QByteArray(1, char((thumbnail.size() + 2) >> 8)) +
                            char((thumbnail.size() + 2) & 0xff) + thumbnail;
    const QByteArray withThumbnail = jpeg.left(2) + app1 + jpeg.mid(2);
    const qsizetype scan = jpeg.indexOf("\xff\xda");
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        {"as written", jpeg, true},
        {"zero padding after EOI", jpeg + QByteArray(16, '\0'), true},
        {"other bytes after EOI", jpeg + "trailing", true},
        {"with a thumbnail", withThumbnail, true},
        {"cut short in the scan", jpeg.first(scan + 40), false},
        {"cut right after the thumbnail", withThumbnail.first(2 + app1.size()), false},
        {"EOI before any scan", jpeg.first(scan) + "\xff\xd9", false},
        {"a segment length past the end", jpeg.first(scan + 2) + "\xff\xff\xff\xd9", false},
        {"no SOI", jpeg.mid(2), false},
        {"empty", {}, false},
    };
    for (const auto& [name, bytes, expected] : cases)
        EXPECT_EQ(jpegIsComplete(bytes), expected) << name;
}

// Neither encoder writes anything for a file that does not decode whole, nor does the whole-image
// decoder behind them hand out an image.
TEST(CompleteImage, EncodersRefuseWhatCannotBeReadWhole)
{
    const QByteArray png = test::encoded(gradient(200, 100), "png");
    const QByteArray jpeg = test::encoded(gradient(200, 100), "jpeg");
    QByteArray damaged = png;
    damaged[png.indexOf("IDAT") + 40] ^= 0x10;
    const std::pair<const char*, QByteArray> broken[] = {
        {"PNG cut short", png.first(png.size() / 2)},
        {"PNG without IEND", png.chopped(12)},
        {"PNG with a damaged IDAT", damaged},
        {"JPEG cut short", jpeg.first(jpeg.size() * 2 / 3)},
        {"wider than the side cap", test::encoded(QImage(kMaxImageSide + 1, 1, QImage::Format_Mono), "png")},
        {"not an image", "just some text, nothing like a picture\n"},
        {"empty", ""},
    };
    QTemporaryDir dir;
    for (const auto& [name, bytes] : broken) {
        SCOPED_TRACE(name);
        test::writeFile(dir.filePath("file"), bytes);
        const int fd = ::open(toNativePath(dir.filePath("file")).constData(), O_RDONLY | O_CLOEXEC);
        QBuffer pdf;
        pdf.open(QIODevice::WriteOnly);
        EXPECT_FALSE(writePdfFile(fd, pdf));
        EXPECT_FALSE(encodeJpegFile(fd));
        EXPECT_FALSE(decodeCompleteImage(bytes));
        ::close(fd);
    }
}

} // namespace
} // namespace quillary
