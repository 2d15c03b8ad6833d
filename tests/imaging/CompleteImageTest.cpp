#include "imaging/FileBytes.h"
#include "imaging/JpegEncoder.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillary;

namespace {

// Complete means the chunks lead to a whole IEND; that bytes after it change nothing is the fuzzer's.
TEST(PngFileEnd, AFileIsCompleteOnceItsChunksReachIEND)
{
    const QByteArray png = test::encoded(test::pattern(QImage::Format_RGB32, 40, 30), "png");
    const QByteArray iend = test::pngChunk("IEND", {});
    const QByteArray body = png.chopped(iend.size());
    const QByteArray signature = png.left(8);
    using enum PngFileEnd;
    const std::tuple<const char*, QByteArray, PngFileEnd> cases[] = {
        {"as written", png, complete},
        {"a chunk's worth after IEND", png + test::pngChunk("tEXt", "Comment\0x"), complete},
        {"text chunk between IDAT and IEND", test::tinyPng({}, test::pngChunk("tEXt", "a\0b")), complete},
        {"IEND cut short", png.chopped(1), unfinished},
        {"no IEND", body, unfinished},
        {"an IDAT cut short", body.chopped(5), unfinished},
        {"IEND bytes at the end of a chunk cut short", body.chopped(20) + iend, unfinished},
        {"a length over 2^31-1", signature + test::bigEndian32(0x80000000) + "IDAT" + iend, unfinished},
        {"IEND with a wrong CRC", png.chopped(1) + '\x83', unfinished},
        {"signature only", signature, unfinished},
        {"part of the signature", signature.left(5), unfinished},
        {"empty", {}, unfinished},
        {"a JPEG", "\xff\xd8\xff\xe0 a JPEG", notPng},
    };
    QTemporaryDir dir;
    for (const auto& [name, bytes, expected] : cases) {
        test::writeFile(dir.filePath("file"), bytes);
        EXPECT_EQ(pngFileEnd(dir.filePath("file")), expected) << name;
        EXPECT_EQ(pngFileEnd(MemoryBytes(bytes)), expected) << name;
    }
    EXPECT_EQ(pngFileEnd(dir.filePath("missing.png")), unreadable);
}

// Complete means the markers lead through a scan to EOI; an EOI in a segment (a thumbnail's) is skipped.
TEST(JpegIsComplete, TheMarkersLeadThroughAScanToEOI)
{
    const QByteArray jpeg = test::encoded(test::pattern(QImage::Format_RGB32, 64, 48), "jpeg");
    const QByteArray thumbnail = test::encoded(test::pattern(QImage::Format_RGB32, 8, 6), "jpeg");
    const QByteArray app1 = "\xff\xe1" + test::bigEndian32(thumbnail.size() + 2).mid(2) + thumbnail;
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

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 6 && qAbs(qGreen(a) - qGreen(b)) <= 6 && qAbs(qBlue(a) - qBlue(b)) <= 6;
}

// Every layout, streamed in strips or (TJ_OPTIMIZE: tables cannot be joined) whole, laid on white.
TEST(JpegEncoder, EveryPixelLayoutIsLaidOnWhiteWithItsResolution)
{
    QImage image(90, 200, QImage::Format_ARGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 90; ++x)
            image.setPixelColor(x, y,
                                QColor(x < 60 ? 0 : 200, x < 60 ? 0 : y, 0, std::min(255, x / 30 * 128)));
    image.setDotsPerMeterX(5669); // 144 dpi
    image.setDotsPerMeterY(5669);
    for (const char* optimize : {"", "1"}) {
        qputenv("TJ_OPTIMIZE", optimize);
        using enum QImage::Format;
        for (const QImage::Format layout : {Format_ARGB32, Format_RGBA64, Format_Indexed8, Format_RGB888,
                                            Format_Grayscale8, Format_Grayscale16, Format_RGB32}) {
            const char* format = layout == QImage::Format_RGB32 ? "jpeg" : "png";
            SCOPED_TRACE(testing::Message() << layout << " " << format << " TJ_OPTIMIZE=" << optimize);
            const QByteArray file = test::encoded(image.convertToFormat(layout, Qt::ThresholdDither), format);
            QImage expected(image.size(), QImage::Format_RGB32);
            expected.fill(Qt::white);
            QPainter(&expected).drawImage(0, 0, QImage::fromData(file));

            const int fd = memfd_create("source", MFD_CLOEXEC);
            ASSERT_EQ(::write(fd, file.constData(), size_t(file.size())), file.size());
            const std::optional<QByteArray> jpeg = encodeJpegFile(fd);
            ::close(fd);

            ASSERT_TRUE(jpeg);
            EXPECT_TRUE(jpegIsComplete(*jpeg)); // strips joined by restart markers included
            const QImage converted = QImage::fromData(*jpeg, "JPEG");
            ASSERT_EQ(converted.size(), image.size());
            for (const int y : {5, 100, 195}) // in the first, a middle and the last strip
                for (const int x : {15, 45, 75})
                    EXPECT_TRUE(near(converted.pixel(x, y), expected.pixel(x, y))) << x << "," << y;
            EXPECT_EQ(QPoint(converted.dotsPerMeterX(), converted.dotsPerMeterY()), QPoint(5669, 5669));
        }
    }
    qunsetenv("TJ_OPTIMIZE");
}

// libpng allocates a chunk whole before reading it: a short file claiming a gigabyte must cost nothing.
TEST(JpegEncoder, AChunkLongerThanTheFileCostsNoMemory)
{
    const QByteArray file =
        test::pngStart(test::bigEndian32(2) + test::bigEndian32(2) + QByteArray("\x08\x02\0\0\0", 5)) +
        test::bigEndian32(1u << 30) + "iTXtXML:com.adobe.xmp" + QByteArray(16, '\0');
    const int fd = memfd_create("source", MFD_CLOEXEC);
    ASSERT_EQ(::write(fd, file.constData(), size_t(file.size())), file.size());
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(encodeJpegFile(fd));
    getrusage(RUSAGE_SELF, &after);
    ::close(fd);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "KiB more at the peak";
}

} // namespace
