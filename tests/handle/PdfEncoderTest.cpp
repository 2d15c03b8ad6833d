#include "handle/PdfEncoder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <optional>

namespace quillary {
namespace {

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

// Gradients, hard edges and hashed noise, with many alpha values, so any changed pixel shows.
QImage pattern(QImage::Format format, int width, int height)
{
    const QImage probe(1, 1, format);
    const bool opaque = !probe.hasAlphaChannel();
    // Poppler wraps 16-bit samples just under full scale round to 0, so deep images stay below it.
    const quint16 top = probe.depth() >= 64 ? 0xfeff : 0xffff;
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const quint32 hash = (quint32(x) * 2654435761u) ^ (quint32(y) * 40503u);
            const quint16 alpha = opaque ? 0xffff : quint16((x * 977 + y * 131) & top);
            image.setPixelColor(x, y,
                                QColor::fromRgba64(quint16(x * top / width), quint16((hash >> 8) & top),
                                                   quint16((y * top / height) ^ (x & 8 ? 0xff : 0)), alpha));
        }
    if (format != QImage::Format_Indexed8)
        return image.convertToFormat(format);
    QList<QRgb> palette; // opaque, and fewer than 256 entries
    for (int i = 0; i < 180; ++i)
        palette.append(qRgb(i % 6 * 51, i / 6 % 6 * 51, i / 36 * 63));
    return image.convertToFormat(format, palette);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The PNG's bytes without its chunks of `type`.
QByteArray withoutChunk(const QByteArray& png, const QByteArray& type)
{
    QByteArray out = png.first(8);
    for (qsizetype pos = 8; pos + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + pos);
        if (png.sliced(pos + 4, 4) != type)
            out += png.sliced(pos, length + 12);
        pos += length + 12;
    }
    return out;
}

bool convert(const QString& source, const QString& pdf)
{
    QFile out(pdf);
    return out.open(QIODevice::WriteOnly) && writePdf(source, out);
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

struct Case {
    const char* name;
    QImage::Format format;
    int width, height;
    int dpi;            // 0: the file states no resolution
    const char* writer; // "png", "jpg", or "interlaced" (a PNG re-saved interlaced by ImageMagick)
    bool takenOver;     // the PNG's compressed data must appear in the PDF as it is
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

class PdfEncoderCaseTest : public testing::TestWithParam<Case> {};

TEST_P(PdfEncoderCaseTest, KeepsEveryPixelOnAPageOfTheImageSize)
{
    const Case& c = GetParam();
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    QImage image = pattern(c.format, c.width, c.height);
    image.setDotsPerMeterX(qRound((c.dpi ? c.dpi : 96) / 0.0254));
    image.setDotsPerMeterY(image.dotsPerMeterX());
    const bool jpeg = QByteArray(c.writer) == "jpg";
    ASSERT_TRUE(QImageWriter(source, jpeg ? "jpg" : "png").write(image));
    if (c.dpi == 0) // Qt always writes a resolution; the PNG loses its pHYs, the JFIF header its unit
        writeAll(source,
                 jpeg ? readAll(source).replace(13, 1, "\0", 1) : withoutChunk(readAll(source), "pHYs"));
    if (QByteArray(c.writer) == "interlaced") {
        const QString magick = haveTool("convert-im6.q16") ? "convert-im6.q16" : "convert";
        if (!haveTool(magick))
            GTEST_SKIP() << "ImageMagick is not installed";
        ASSERT_TRUE(run(magick, {source, "-interlace", "PNG", "png:" + source + ".i"}));
        ASSERT_EQ(readAll(source + ".i").at(28), 1) << "not interlaced";
        QFile::rename(source + ".i", source);
    }
    const QImage expected(source);
    ASSERT_FALSE(expected.isNull());

    const QString pdf = dir.filePath("out.pdf");
    ASSERT_TRUE(convert(source, pdf));
    if (c.takenOver) {
        const QByteArray png = readAll(source);
        const qsizetype idat = png.indexOf("IDAT");
        EXPECT_TRUE(
            readAll(pdf).contains(png.sliced(idat + 4, qFromBigEndian<quint32>(png.constData() + idat - 4))));
    }
    if (!haveTool("pdfinfo") || !haveTool("pdfimages") || !haveTool("pdftoppm"))
        GTEST_SKIP() << "poppler-utils are not installed";

    const QString info = QString::fromUtf8(run("pdfinfo", {pdf}).value_or(""));
    EXPECT_TRUE(info.contains(QRegularExpression("Pages: +1\n"))) << info.toStdString();
    const auto size = QRegularExpression("Page size: +([\\d.]+) x ([\\d.]+) pts").match(info);
    const double dpi = c.dpi ? c.dpi : 72.0;
    EXPECT_NEAR(size.captured(1).toDouble(), c.width * 72.0 / dpi, 0.01) << info.toStdString();
    EXPECT_NEAR(size.captured(2).toDouble(), c.height * 72.0 / dpi, 0.01);

    ASSERT_TRUE(run("pdftoppm", {"-r", "72", "-png", "-singlefile", pdf, dir.filePath("page")}));
    EXPECT_EQ(QImage(dir.filePath("page.png")).size(),
              QSize(std::ceil(c.width * 72.0 / dpi - 1e-6), std::ceil(c.height * 72.0 / dpi - 1e-6)));

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

class PdfEncoderTest : public testing::Test {
protected:
    QString write(const QString& name, const QImage& image, const char* format = "png")
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(QImageWriter(path, format).write(image));
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(PdfEncoderTest, RefusesWhatCannotBeReadWhole)
{
    const QByteArray rgb = readAll(write("rgb.png", pattern(QImage::Format_RGB32, 200, 100)));
    const QByteArray rgba = readAll(write("rgba.png", pattern(QImage::Format_ARGB32, 200, 100)));
    const QByteArray jpeg = readAll(write("photo.jpg", pattern(QImage::Format_RGB32, 200, 100), "jpg"));
    QByteArray flipped = rgb;
    flipped[rgb.indexOf("IDAT") + 40] ^= 0x10;
    const struct {
        const char* name;
        QByteArray bytes;
    } broken[] = {
        {"opaque PNG cut short", rgb.first(rgb.size() / 2)},
        {"PNG without IEND", rgb.chopped(12)},
        {"PNG with a damaged IDAT", flipped},
        {"transparent PNG cut short", rgba.first(rgba.size() / 2)},
        {"JPEG cut short", jpeg.first(jpeg.size() * 2 / 3)},
        {"not an image", "just some text, nothing like a picture\n"},
    };
    for (const auto& file : broken) {
        const QString path = m_dir.filePath("broken");
        writeAll(path, file.bytes);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        EXPECT_FALSE(writePdf(path, out)) << file.name;
    }
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    EXPECT_FALSE(writePdf(m_dir.filePath("missing.png"), out));
}

TEST_F(PdfEncoderTest, RefusesImagesWiderThanTheCap)
{
    for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        EXPECT_TRUE(writePdf(write("wide.png", pattern(format, 32768, 1)), out));
        out.buffer().clear();
        EXPECT_FALSE(writePdf(write("wider.png", pattern(format, 32769, 1)), out));
    }
}

TEST_F(PdfEncoderTest, DecodesRegardlessOfQtsAllocationLimit)
{
    const QString path = write("rgba.png", pattern(QImage::Format_ARGB32, 800, 600));
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    EXPECT_TRUE(writePdf(path, out));
    QImageReader::setAllocationLimit(previous);
}

TEST_F(PdfEncoderTest, ReportsAFailedWrite)
{
    const QString path = write("rgb.png", pattern(QImage::Format_RGB32, 64, 64));
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(writePdf(path, readOnly));
}

} // namespace
} // namespace quillary
