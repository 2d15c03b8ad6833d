#include "handle/PdfEncoder.h"
#include "support/TestSupport.h"

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
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && writePdf(source, out));
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

class PdfEncoderTest : public testing::Test {
protected:
    QString write(const QString& name, const QImage& image, const char* format = "png")
    {
        EXPECT_TRUE(QImageWriter(m_dir.filePath(name), format).write(image));
        return m_dir.filePath(name);
    }
    static bool toPdf(const QString& path)
    {
        QBuffer out;
        return out.open(QIODevice::WriteOnly) && writePdf(path, out);
    }
    QTemporaryDir m_dir;
};

TEST_F(PdfEncoderTest, RefusesWhatCannotBeReadWhole)
{
    const QByteArray png = test::readFile(write("rgb.png", pattern(QImage::Format_RGB32, 200, 100)));
    const QByteArray jpeg =
        test::readFile(write("photo.jpg", pattern(QImage::Format_RGB32, 200, 100), "jpg"));
    QByteArray flipped = png;
    flipped[png.indexOf("IDAT") + 40] ^= 0x10;
    const std::pair<const char*, QByteArray> broken[] = {
        {"PNG cut short", png.first(png.size() / 2)},
        {"PNG without IEND", png.chopped(12)},
        {"PNG with a damaged IDAT", flipped},
        {"JPEG cut short", jpeg.first(jpeg.size() * 2 / 3)},
        {"not an image", "just some text, nothing like a picture\n"},
    };
    for (const auto& [name, bytes] : broken) {
        test::writeFile(m_dir.filePath("broken"), bytes);
        EXPECT_FALSE(toPdf(m_dir.filePath("broken"))) << name;
    }
    EXPECT_FALSE(toPdf(m_dir.filePath("missing.png")));
}

// Opaque PNGs are taken over, transparent ones decoded: both keep to the side cap, and decoding is
// not held back by Qt's own allocation limit.
TEST_F(PdfEncoderTest, KeepsToTheSizeCapNotToQtsAllocationLimit)
{
    for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        EXPECT_TRUE(toPdf(write("wide.png", pattern(format, 32768, 1))));
        EXPECT_FALSE(toPdf(write("wider.png", pattern(format, 32769, 1))));
    }
    const QString path = write("rgba.png", pattern(QImage::Format_ARGB32, 800, 600));
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    EXPECT_TRUE(toPdf(path));
    QImageReader::setAllocationLimit(previous);
}

TEST_F(PdfEncoderTest, ReportsAFailedWrite)
{
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(writePdf(write("rgb.png", pattern(QImage::Format_RGB32, 64, 64)), readOnly));
}

} // namespace
} // namespace quillary
