#include "imaging/PdfEncoder.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

// Declares that this code uses no deprecated PointerHolder API, which silences qpdf's warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

namespace quillary {
namespace {

using test::bigEndian32;
using test::pngChunk;

bool haveTool(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

std::optional<QByteArray> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Gradients, hard edges and hashed noise, with many alpha values where the format has alpha, so any
// changed pixel shows.
QImage pattern(QImage::Format format, int width, int height)
{
    const QImage probe(1, 1, format);
    // Poppler wraps 16-bit samples just under full scale round to 0, so deep images stay below it.
    const quint16 top = probe.depth() >= 64 ? 0xfeff : 0xffff;
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const quint32 hash = (quint32(x) * 2654435761u) ^ (quint32(y) * 40503u);
            image.setPixelColor(
                x, y,
                QColor::fromRgba64(quint16(x * top / width), quint16((hash >> 8) & top),
                                   quint16((y * top / height) ^ (x & 8 ? 0xff : 0)),
                                   probe.hasAlphaChannel() ? quint16((x * 977 + y * 131) & top) : 0xffff));
        }
    if (format != QImage::Format_Indexed8)
        return image.convertToFormat(format);
    QList<QRgb> palette; // opaque, and fewer than 256 entries
    for (int i = 0; i < 180; ++i)
        palette.append(qRgb(i % 6 * 51, i / 6 % 6 * 51, i / 36 * 63));
    return image.convertToFormat(format, palette);
}

// The colour samples, alpha made opaque (Qt's conversion would premultiply), or the alpha samples as grey.
// 16 bits deep and cut to the high bytes, since Poppler hands out 16-bit samples with the low byte a
// copy of the high one.
QImage samples(const QImage& image, bool alpha)
{
    QImage rgba = image.convertToFormat(QImage::Format_RGBA64);
    QImage grey(image.size(), QImage::Format_Grayscale16);
    const auto cut = [](quint16 v) { return quint16((v & 0xff00) | v >> 8); };
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QRgba64& pixel = reinterpret_cast<QRgba64*>(rgba.scanLine(y))[x];
            reinterpret_cast<quint16*>(grey.scanLine(y))[x] = cut(pixel.alpha());
            pixel = QRgba64::fromRgba64(cut(pixel.red()), cut(pixel.green()), cut(pixel.blue()), 0xffff);
        }
    return alpha ? grey : rgba;
}

bool toPdfBytes(const QByteArray& file, QByteArray* pdf = nullptr)
{
    QBuffer out(pdf);
    return out.open(QIODevice::WriteOnly) && writePdf(file, out);
}

// What a zlib stream inflates to, as far as it can be inflated.
QByteArray inflated(const QByteArray& stream)
{
    QByteArray out(64 * 1024, Qt::Uninitialized);
    uLongf size = uLongf(out.size());
    uLong used = uLong(stream.size());
    uncompress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(stream.data()),
                &used);
    return out.first(qsizetype(size));
}

struct Case {
    const char* name;
    QImage::Format format;
    int width, height;
    int dpi;            // 0: the file states no resolution
    const char* writer; // "png", "jpg", or "interlaced" (a PNG re-saved interlaced by ImageMagick)
    bool takenOver;     // the PNG's compressed data must appear in the PDF as it is
};

class PdfEncoderCaseTest : public testing::TestWithParam<Case> {};

TEST_P(PdfEncoderCaseTest, KeepsEveryPixelOnAPageOfTheImageSize)
{
    const Case& c = GetParam();
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    QImage image = pattern(c.format, c.width, c.height);
    // Without a resolution Qt's PNG writer leaves out pHYs; its JPEG writer still states one, so the
    // JFIF header loses its unit.
    image.setDotsPerMeterX(c.dpi ? qRound(c.dpi / 0.0254) : -1);
    image.setDotsPerMeterY(image.dotsPerMeterX());
    const bool jpeg = QByteArray(c.writer) == "jpg";
    ASSERT_TRUE(QImageWriter(source, jpeg ? "jpg" : "png").write(image));
    if (c.dpi == 0 && jpeg)
        test::writeFile(source, test::readFile(source).replace(13, 1, "\0", 1));
    ASSERT_EQ(test::readFile(source).contains("pHYs"), c.dpi != 0 && !jpeg);
    if (QByteArray(c.writer) == "interlaced") {
        const QString magick = haveTool("convert-im6.q16") ? "convert-im6.q16" : "convert";
        if (!haveTool(magick))
            GTEST_SKIP() << "ImageMagick is not installed";
        ASSERT_TRUE(run(magick, {source, "-strip", "-interlace", "PNG", "png:" + source + ".i"}));
        ASSERT_EQ(test::readFile(source + ".i").at(28), 1) << "not interlaced";
        ASSERT_TRUE(QFile::remove(source) && QFile::rename(source + ".i", source));
    }
    const QImage expected(source);
    ASSERT_FALSE(expected.isNull());

    const QString pdf = dir.filePath("out.pdf");
    {
        QFile out(pdf);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && writePdf(test::readFile(source), out));
    }
    if (c.takenOver) {
        const QByteArray png = test::readFile(source);
        const qsizetype idat = png.indexOf("IDAT");
        EXPECT_TRUE(test::readFile(pdf).contains(
            png.sliced(idat + 4, qFromBigEndian<quint32>(png.constData() + idat - 4))));
    }
    if (!haveTool("pdfinfo") || !haveTool("pdfimages"))
        GTEST_SKIP() << "poppler-utils are not installed";

    const QString info = QString::fromUtf8(run("pdfinfo", {pdf}).value_or(""));
    const auto size = QRegularExpression("Page size: +([\\d.]+) x ([\\d.]+) pts").match(info);
    const double dpi = c.dpi ? c.dpi : 72.0;
    EXPECT_NEAR(size.captured(1).toDouble(), c.width * 72.0 / dpi, 0.01) << info.toStdString();
    EXPECT_NEAR(size.captured(2).toDouble(), c.height * 72.0 / dpi, 0.01);

    ASSERT_TRUE(run("pdfimages", {"-png", pdf, dir.filePath("img")}));
    const QImage extracted(dir.filePath("img-000.png"));
    EXPECT_EQ(samples(extracted, false), samples(expected, false));
    if (expected.hasAlphaChannel())
        EXPECT_EQ(QImage(dir.filePath("img-001.png")).convertToFormat(QImage::Format_Grayscale16),
                  samples(expected, true));
    else
        EXPECT_FALSE(QFile::exists(dir.filePath("img-001.png")));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PdfEncoderCaseTest,
    testing::Values(Case{"rgb", QImage::Format_RGB32, 144, 72, 144, "png", true},
                    Case{"rgbWithoutResolution", QImage::Format_RGB32, 144, 72, 0, "png", true},
                    Case{"grey", QImage::Format_Grayscale8, 67, 41, 72, "png", true},
                    Case{"palette", QImage::Format_Indexed8, 67, 41, 300, "png", true},
                    Case{"oneBit", QImage::Format_Mono, 67, 41, 72, "png", true},
                    Case{"rgb16", QImage::Format_RGBX64, 67, 41, 72, "png", true},
                    Case{"rgba", QImage::Format_ARGB32, 67, 41, 96, "png", false},
                    Case{"rgba16", QImage::Format_RGBA64, 67, 41, 72, "png", false},
                    Case{"interlaced", QImage::Format_RGB32, 67, 41, 72, "interlaced", false},
                    Case{"jpeg", QImage::Format_RGB32, 67, 41, 96, "jpg", false},
                    Case{"jpegWithoutResolution", QImage::Format_RGB32, 67, 41, 0, "jpg", false}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// Opaque PNGs are taken over, transparent ones decoded: both keep to the side cap, and decoding is
// not held back by Qt's own allocation limit.
TEST(PdfEncoder, KeepsToTheSizeCapNotToQtsAllocationLimit)
{
    for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        EXPECT_TRUE(toPdfBytes(test::encoded(pattern(format, 32768, 1), "png")));
        EXPECT_FALSE(toPdfBytes(test::encoded(pattern(format, 32769, 1), "png")));
    }
    const QByteArray rgba = test::encoded(pattern(QImage::Format_ARGB32, 800, 600), "png");
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    EXPECT_TRUE(toPdfBytes(rgba));
    QImageReader::setAllocationLimit(previous);
}

TEST(PdfEncoder, ReportsAFailedWrite)
{
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(writePdf(test::encoded(pattern(QImage::Format_RGB32, 64, 64), "png"), readOnly));
}

// A PNG as its header, what lies between header and image data, and the image data as one zlib
// stream, put together again with every CRC right.
struct PngParts {
    QByteArray header; // IHDR's data
    QByteArray middle; // whole chunks
    QByteArray stream;

    // 24x16 random samples, rows of every filter type, and a palette of `entries` colours when given:
    // a short one leaves indices past its end.
    static PngParts random(int depth, int colourType, int entries = 0)
    {
        PngParts parts;
        parts.header =
            bigEndian32(24) + bigEndian32(16) + char(depth) + char(colourType) + QByteArray(3, '\0');
        QByteArray colours;
        for (int i = 0; i < entries; ++i)
            colours.append(char(40 * i)).append(char(255 - 30 * i)).append('\x64');
        if (entries > 0)
            parts.middle = pngChunk("PLTE", colours);
        QRandomGenerator random(quint32(depth * 8 + colourType));
        QByteArray rows;
        for (int y = 0; y < 16; ++y) {
            rows += char(y % 5);
            for (int x = 0; x < (24 * (colourType == 2 ? 3 : 1) * depth + 7) / 8; ++x)
                rows += char(random.bounded(256));
        }
        parts.stream = test::zlibStream(rows);
        return parts;
    }

    // The stream split into IDAT chunks at `cuts`.
    QByteArray with(const QByteArray& data, std::vector<qsizetype> cuts = {}) const
    {
        QByteArray png = test::pngStart(header) + middle;
        cuts.push_back(data.size());
        std::sort(cuts.begin(), cuts.end());
        qsizetype from = 0;
        for (const qsizetype cut : cuts) {
            const qsizetype to = std::min(cut, data.size()); // the data may have shrunk since
            png += pngChunk("IDAT", data.sliced(from, to - from));
            from = to;
        }
        return png + pngChunk("IEND", {});
    }
};

// One or two random edits that leave every chunk intact (the CRCs are made right again) but may break
// the image data: a stream cut short, damaged, or followed by more data; rows missing, added or
// altered (filter types and palette indices included); a changed header; the data split differently.
QByteArray mutant(PngParts parts, std::mt19937& random)
{
    const auto below = [&](qsizetype bound) {
        return qsizetype(random() % quint32(std::max<qsizetype>(bound, 1)));
    };
    std::vector<qsizetype> cuts;
    for (int edits = 1 + int(below(2)); edits > 0; --edits) {
        QByteArray rows = inflated(parts.stream);
        QByteArray& stream = parts.stream;
        switch (rows.isEmpty() || stream.isEmpty() ? 2 : below(8)) {
        case 0:
            stream.truncate(below(stream.size()));
            break;
        case 1:
            stream[below(stream.size())] ^= char(1 << below(8));
            break;
        case 2:
            stream += QByteArray(1 + below(8), char(random()));
            break;
        case 3:
            stream = test::zlibStream(rows.chopped(1 + below(rows.size() / 4)));
            break;
        case 4:
            stream = test::zlibStream(rows + QByteArray(1 + below(64), char(random())));
            break;
        case 5:
            rows[below(rows.size())] = char(random());
            stream = test::zlibStream(rows);
            break;
        case 6: {
            // Width or height one more or less, or another bit depth, colour type or interlace method.
            char* header = parts.header.data();
            const qsizetype field = below(5);
            if (field < 2)
                qToBigEndian(qFromBigEndian<quint32>(header + 4 * field) + (below(2) ? 1 : -1),
                             header + 4 * field);
            else if (field == 2)
                header[8] = "\1\2\4\x08\x10"[below(5)];
            else if (field == 3)
                header[9] = "\0\2\3\4\6"[below(5)];
            else
                header[12] ^= 1;
            break;
        }
        default:
            for (int n = 1 + int(below(3)); n > 0; --n)
                cuts.push_back(below(stream.size() + 1));
        }
    }
    return parts.with(parts.stream, cuts);
}

// What a PDF reader shows of the one image on the page: its samples as qpdf decodes them, an index
// past the palette's end taken as the last entry as PDF prescribes, all scaled to 16 bits. A null image
// when the data does not hold every row.
QImage shownImage(const QByteArray& pdf)
{
    QPDF document;
    document.processMemoryFile("mutant", pdf.data(), size_t(pdf.size()));
    QPDFObjectHandle image = QPDFPageDocumentHelper(document).getAllPages().at(0).getObjectHandle();
    image = image.getKey("/Resources").getKey("/XObject").getKey("/Im0");
    QPDFObjectHandle dict = image.getDict();
    const int width = dict.getKey("/Width").getIntValueAsInt();
    const int height = dict.getKey("/Height").getIntValueAsInt();
    const int depth = dict.getKey("/BitsPerComponent").getIntValueAsInt();
    QPDFObjectHandle space = dict.getKey("/ColorSpace");
    const std::string palette = space.isArray() ? space.getArrayItem(3).getStringValue() : "";
    const int colours = palette.empty() && space.getName() == "/DeviceRGB" ? 3 : 1;
    const std::shared_ptr<Buffer> data = image.getStreamData(qpdf_dl_generalized);
    const qsizetype rowSize = (qsizetype(width) * colours * depth + 7) / 8;
    if (qsizetype(data->getSize()) != rowSize * height)
        return {};
    const auto sample = [&](int y, qsizetype index) {
        const unsigned char* row = data->getBuffer() + y * rowSize;
        if (depth == 16)
            return unsigned(row[2 * index] << 8 | row[2 * index + 1]);
        const qsizetype bit = index * depth;
        return unsigned(row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
    };
    QImage shown(width, height, QImage::Format_RGBX64);
    const unsigned top = (1u << depth) - 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            quint16 rgb[3];
            for (int c = 0; c < 3; ++c) {
                if (!palette.empty()) {
                    const std::size_t entry = std::min<std::size_t>(sample(y, x), palette.size() / 3 - 1);
                    rgb[c] = quint16(uchar(palette[3 * entry + std::size_t(c)]) * 257);
                } else {
                    rgb[c] =
                        quint16(sample(y, qsizetype(x) * colours + (colours == 3 ? c : 0)) * 65535 / top);
                }
            }
            reinterpret_cast<QRgba64*>(shown.scanLine(y))[x] =
                QRgba64::fromRgba64(rgb[0], rgb[1], rgb[2], 0xffff);
        }
    return shown;
}

// On image data that is broken while every chunk is intact, taking the data over must never give
// another picture than decoding would: for each mutant either nothing is converted, or the PNG decodes
// and a PDF reader shows exactly its pixels.
TEST(PdfEncoder, TakingTheDataOverAgreesWithDecodingOnDamagedImages)
{
    // RGB, grey and palette images at several depths; palettes of one, two, three, five and 180 colours.
    const std::vector<PngParts> seeds = {
        PngParts::random(8, 2),    PngParts::random(16, 2),     PngParts::random(8, 0),
        PngParts::random(1, 0),    PngParts::random(8, 3, 180), PngParts::random(1, 3, 2),
        PngParts::random(1, 3, 1), PngParts::random(2, 3, 3),   PngParts::random(4, 3, 5),
    };
    std::mt19937 random(0x5eed);
    int takenOver = 0;
    int decoded = 0;
    int refused = 0;
    constexpr int kMutations = 3000;
    for (int i = 0; i < kMutations; ++i) {
        const QByteArray png = mutant(seeds[std::size_t(i) % seeds.size()], random);
        QByteArray pdf;
        if (!toPdfBytes(png, &pdf)) {
            ++refused;
            continue;
        }
        const QImage image = QImage::fromData(png);
        ASSERT_FALSE(image.isNull()) << "mutation " << i
                                     << " converted but does not decode: " << png.toHex().data();
        if (!pdf.contains("/Predictor 15")) {
            ++decoded;
            continue;
        }
        ++takenOver;
        ASSERT_TRUE(shownImage(pdf) == image.convertToFormat(QImage::Format_RGBX64))
            << "mutation " << i << " shows other pixels: " << png.toHex().data();
    }
    // The mutants must reach every outcome, or a path went untested.
    for (const int count : {takenOver, decoded, refused})
        EXPECT_GT(count, kMutations / 50);
}

} // namespace
} // namespace quillary
