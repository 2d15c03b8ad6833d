#include "imaging/FileBytes.h"
#include "imaging/JpegEncoder.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PdfModule.h"
#include "imaging/PdfPageRenderer.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

// Declares that this code uses no deprecated PointerHolder API, which silences qpdf's warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <random>
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

std::optional<QByteArray> toPdf(const QByteArray& file)
{
    QByteArray pdf;
    QBuffer out(&pdf);
    out.open(QIODevice::WriteOnly);
    return writePdf(file, out) ? std::optional(pdf) : std::nullopt;
}

// An image XObject's samples via a PNG whose palette repeats its last entry, as PDF shows indices past it.
QImage samples(QPDFObjectHandle image)
{
    QPDFObjectHandle dict = image.getDict(), space = dict.getKey("/ColorSpace");
    const auto number = [&](const char* key) { return dict.getKey(key).getIntValueAsInt(); };
    const int width = number("/Width"), height = number("/Height"), depth = number("/BitsPerComponent");
    QByteArray palette =
        space.isArray() ? QByteArray::fromStdString(space.getArrayItem(3).getStringValue()) : "";
    const int colours = palette.isEmpty() && space.getName() == "/DeviceRGB" ? 3 : 1;
    const std::shared_ptr<Buffer> data = image.getStreamData(qpdf_dl_generalized);
    const qsizetype rowSize = (qsizetype(width) * colours * depth + 7) / 8;
    if (qsizetype(data->getSize()) != rowSize * height)
        return {};
    QByteArray rows;
    for (int y = 0; y < height; ++y)
        rows += '\0' + QByteArray(reinterpret_cast<const char*>(data->getBuffer()) + y * rowSize, rowSize);
    while (!palette.isEmpty() && palette.size() < 3 << depth)
        palette += palette.last(3);
    const char type = palette.isEmpty() ? char(colours - 1) : 3; // grey (0), RGB (2) or palette (3)
    const QByteArray header =
        test::bigEndian32(width) + test::bigEndian32(height) + char(depth) + type + QByteArray(3, '\0');
    return QImage::fromData(test::pngStart(header) +
                            (palette.isEmpty() ? "" : test::pngChunk("PLTE", palette)) +
                            test::pngChunk("IDAT", test::zlibStream(rows)) + test::pngChunk("IEND", {}))
        .convertToFormat(QImage::Format_RGBA64);
}

// What a PDF reader shows of the one image on the page, its soft mask as alpha, and the page size.
std::tuple<QImage, double, double> shown(const QByteArray& pdf)
{
    QPDF document;
    document.processMemoryFile("pdf", pdf.data(), size_t(pdf.size()));
    QPDFObjectHandle page = QPDFPageDocumentHelper(document).getAllPages().at(0).getObjectHandle();
    QPDFObjectHandle image = page.getKey("/Resources").getKey("/XObject").getKey("/Im0");
    QImage colour = samples(image);
    if (QPDFObjectHandle mask = image.getDict().getKey("/SMask"); mask.isStream()) {
        const QImage alpha = samples(mask);
        for (int y = 0; y < colour.height(); ++y)
            for (int x = 0; x < colour.width(); ++x)
                reinterpret_cast<QRgba64*>(colour.scanLine(y))[x].setAlpha(
                    reinterpret_cast<const QRgba64*>(alpha.constScanLine(y))[x].red());
    }
    QPDFObjectHandle box = page.getKey("/MediaBox");
    EXPECT_FALSE(document.anyWarnings());
    return {colour, box.getArrayItem(2).getNumericValue(), box.getArrayItem(3).getNumericValue()};
}

// The page measures the image at its resolution (72 dpi when it states none); opaque PNGs are taken over.
TEST(PdfEncoder, KeepsEveryPixelOnAPageOfTheImageSize)
{
    using enum QImage::Format;
    const std::tuple<QImage::Format, int, const char*> cases[] = {
        {Format_RGB32, 144, "png"},    {Format_RGB32, 0, "png"},   {Format_Grayscale8, 72, "png"},
        {Format_Indexed8, 300, "png"}, {Format_Mono, 72, "png"},   {Format_RGBX64, 72, "png"},
        {Format_ARGB32, 96, "png"},    {Format_RGBA64, 72, "png"}, {Format_RGB32, 96, "jpg"},
        {Format_RGB32, 0, "jpg"}};
    for (const auto& [format, dpi, writer] : cases) {
        SCOPED_TRACE(testing::Message() << format << " " << writer << " at " << dpi << " dpi");
        QImage image = test::pattern(format, 67, 41);
        image.setDotsPerMeterX(dpi ? qRound(dpi / 0.0254) : -1); // 0 dpi: no resolution stated
        image.setDotsPerMeterY(image.dotsPerMeterX());
        QByteArray file = test::encoded(image, writer);
        if (dpi == 0 && QByteArray(writer) == "jpg")
            file[13] = 0; // Qt's JPEG writer always states a resolution: take its unit away
        const std::optional<QByteArray> pdf = toPdf(file);
        ASSERT_TRUE(pdf);
        EXPECT_EQ(pdf->contains("/Predictor 15"), QByteArray(writer) == "png" && !image.hasAlphaChannel());
        const auto [shownImage, width, height] = shown(*pdf);
        EXPECT_NEAR(width, 67 * 72.0 / (dpi ? dpi : 72), 0.01);
        EXPECT_NEAR(height, 41 * 72.0 / (dpi ? dpi : 72), 0.01);
        EXPECT_TRUE(shownImage == QImage::fromData(file).convertToFormat(QImage::Format_RGBA64));
    }
}

// Taken over or decoded, images keep to the side cap, and Qt's own allocation limit does not apply.
TEST(PdfEncoder, KeepsToTheSizeCapNotToQtsAllocationLimit)
{
    for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        EXPECT_TRUE(toPdf(test::encoded(test::pattern(format, 32768, 1), "png")));
        EXPECT_FALSE(toPdf(test::encoded(test::pattern(format, 32769, 1), "png")));
    }
    const QByteArray rgba = test::encoded(test::pattern(QImage::Format_ARGB32, 800, 600), "png");
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    EXPECT_TRUE(toPdf(rgba));
    QImageReader::setAllocationLimit(previous);
}

// A 24x16 PNG of random rows after one or two edits to the rows or the header (damaged compression and
// IDAT splits are the png_metadata fuzzer's).
QByteArray mutant(int depth, int colourType, int entries, std::mt19937& random)
{
    const auto below = [&](qsizetype bound) {
        return qsizetype(random() % quint32(std::max<qsizetype>(bound, 1)));
    };
    QByteArray header =
        test::bigEndian32(24) + test::bigEndian32(16) + char(depth) + char(colourType) + QByteArray(3, '\0');
    const int rowSize = 1 + (24 * (colourType == 2 ? 3 : 1) * depth + 7) / 8;
    QByteArray rows(16 * rowSize, Qt::Uninitialized);
    for (int i = 0; i < rows.size(); ++i) // each row starts with a filter type, all five used
        rows[i] = char(i % rowSize ? random() : i / rowSize % 5);
    const std::pair<int, QByteArray> fields[] = {
        {3, "\x17\x19"}, {7, "\x0f\x11"}, {8, "\1\2\4\x08\x10"}, {9, QByteArray("\0\2\3\4\6", 5)}, {12, "\1"},
    };
    for (int edits = 1 + int(below(2)); edits > 0; --edits) {
        const qsizetype kind = below(4);
        if (kind == 0)
            rows.truncate(below(rows.size()));
        else if (kind == 1 && !rows.isEmpty())
            rows[below(rows.size())] ^= char(1 << below(8));
        else if (kind == 2)
            rows += QByteArray(1 + below(64), char(random()));
        else {
            const auto& [offset, values] = fields[below(5)];
            header[offset] = values[below(values.size())];
        }
    }
    QByteArray colours;
    for (int i = 0; i < entries; ++i)
        colours.append(char(40 * i)).append(char(255 - 30 * i)).append('\x64');
    return test::pngStart(header) + (entries ? test::pngChunk("PLTE", colours) : QByteArray()) +
           test::pngChunk("IDAT", test::zlibStream(rows)) + test::pngChunk("IEND", {});
}

// Taking damaged data over must never show another picture than decoding it would.
TEST(PdfEncoder, TakingTheDataOverAgreesWithDecodingOnDamagedImages)
{
    // RGB, grey and palette images at several depths; palettes of one, two, three, five and 180 colours.
    const int seeds[][3] = {{8, 2, 0}, {16, 2, 0}, {8, 0, 0}, {1, 0, 0}, {8, 3, 180},
                            {1, 3, 2}, {1, 3, 1},  {2, 3, 3}, {4, 3, 5}};
    std::mt19937 random(0x5eed);
    int outcomes[3] = {}; // refused, decoded, taken over
    constexpr int kMutations = 3000;
    for (int i = 0; i < kMutations; ++i) {
        const auto [depth, colourType, entries] = seeds[std::size_t(i) % std::size(seeds)];
        const QByteArray png = mutant(depth, colourType, entries, random);
        const std::optional<QByteArray> pdf = toPdf(png);
        const bool takenOver = pdf && pdf->contains("/Predictor 15");
        ++outcomes[pdf ? 1 + takenOver : 0];
        const QImage image = QImage::fromData(png);
        ASSERT_TRUE(!pdf || !image.isNull()) << "mutation " << i << " converted but does not decode";
        ASSERT_TRUE(!takenOver || std::get<0>(shown(*pdf)) == image.convertToFormat(QImage::Format_RGBA64))
            << "mutation " << i << " shows other pixels: " << png.toHex().data();
    }
    for (const int count : outcomes) // or a path went untested
        EXPECT_GT(count, kMutations / 50);
}

// In a process of its own, as the module is loaded once per process.
TEST(PdfModuleDeathTest, MissingModuleFailsEveryPdfOperationAndSaysWhy)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QTemporaryDir empty;
    EXPECT_EXIT(
        {
            qputenv("QUILLARY_MODULE_DIR", empty.path().toUtf8());
            const bool wrote = toPdf(QByteArray("\x89PNG")).has_value();
            const bool rendered = renderFirstPdfPage(QByteArray("%PDF-1.4"), 10).has_value();
            const bool said = pdfModuleProblem().startsWith(QStringLiteral("PDF support is not installed"));
            std::exit(!wrote && !rendered && pdfModule() == nullptr && said ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
