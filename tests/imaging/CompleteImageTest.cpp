#include "imaging/FileBytes.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace quillary;

namespace {

// Complete means the chunks lead to a whole IEND; what follows it does not matter.
TEST(PngFileEnd, AFileIsCompleteOnceItsChunksReachIEND)
{
    const QByteArray png = test::encoded(test::pattern(QImage::Format_RGB32, 40, 30), "png");
    const QByteArray iend = test::pngChunk("IEND", {});
    const QByteArray body = png.chopped(iend.size());
    const QByteArray signature = png.left(8);
    using enum PngFileEnd;
    const std::tuple<const char*, QByteArray, PngFileEnd> cases[] = {
        {"as written", png, complete},
        {"16 zero bytes after IEND", png + QByteArray(16, '\0'), complete},
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

} // namespace
