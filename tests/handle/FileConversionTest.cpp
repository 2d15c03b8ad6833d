#include "handle/FileConversion.h"
#include "handle/ImageLimits.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

using namespace quillary;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Red, green and blue bands over a gradient, so swapped channels or a shifted row show.
QImage screenshotLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, 128));
    const QRgb bands[] = {qRgb(220, 20, 20), qRgb(20, 200, 20), qRgb(20, 20, 220)};
    for (int band = 0; band < 3; ++band)
        for (int y = 0; y < height / 4; ++y)
            for (int x = band * width / 3; x < (band + 1) * width / 3; ++x)
                image.setPixel(x, y, bands[band]);
    return image;
}

// Pixels that hardly compress, so every encoding of it is large.
QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            image.setPixel(x, y, state >> 8);
        }
    return image;
}

bool near(QRgb a, QRgb b, int tolerance = 6)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString identify(const QString& format, const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("identify"), {QStringLiteral("-format"), format, path});
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Makes writes past `bytes` fail with EFBIG for as long as it lives.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

class FileConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        applyImageDecodingLimits();
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkdir(QStringLiteral("in"));
        QDir(m_dir.path()).mkdir(QStringLiteral("out"));
    }

    QString in(const QString& name) const { return m_dir.filePath(QStringLiteral("in/") + name); }
    QString out(const QString& name) const { return m_dir.filePath(QStringLiteral("out/") + name); }

    // Every entry of the target folder, hidden ones included: temporary files must never remain.
    QStringList outEntries() const
    {
        return QDir(m_dir.filePath(QStringLiteral("out")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir m_dir;
};

TEST_F(FileConversionTest, PngBecomesQuality90JpegWithoutChromaSubsampling)
{
    const QImage original = screenshotLike(640, 400);
    // TurboJPEG takes options from the environment too; Huffman tables optimised per image must
    // not spoil the result.
    for (const char* optimize : {"1", ""}) {
        SCOPED_TRACE(optimize);
        qputenv("TJ_OPTIMIZE", optimize);
        test::writeFile(in("shot.png"), encoded(original, "png"));
        QFile::remove(out("shot.jpg"));

        ASSERT_EQ(convertAndPlace(in("shot.png"), out("shot.jpg"), QStringLiteral("JPG")),
                  PlaceResult::placed);

        EXPECT_FALSE(QFile::exists(in("shot.png")));
        EXPECT_EQ(outEntries(), QStringList{"shot.jpg"});
        const QImage converted(out("shot.jpg"), "JPEG");
        ASSERT_EQ(converted.size(), original.size());
        for (const QPoint at :
             {QPoint(100, 50), QPoint(320, 50), QPoint(540, 50), QPoint(320, 300), QPoint(9, 399)})
            EXPECT_TRUE(near(converted.pixel(at), original.pixel(at))) << at.x() << "," << at.y();
    }
    qunsetenv("TJ_OPTIMIZE");
    if (QStandardPaths::findExecutable(QStringLiteral("identify")).isEmpty())
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    EXPECT_EQ(identify(QStringLiteral("%Q"), out("shot.jpg")), "90");
    EXPECT_EQ(identify(QStringLiteral("%[jpeg:sampling-factor]"), out("shot.jpg")), "1x1,1x1,1x1");
}

// Thirds: transparent, half-transparent black, opaque red; stored in every pixel layout a file can
// bring, at 144 dpi. The expected pixels are the source as Qt reads it, painted on white.
TEST_F(FileConversionTest, EveryPixelLayoutIsLaidOnWhiteWithItsResolution)
{
    QImage image(90, 30, QImage::Format_ARGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 90; ++x)
            image.setPixel(x, y,
                           x < 30   ? qRgba(0, 0, 0, 0)
                           : x < 60 ? qRgba(0, 0, 0, 128)
                                    : qRgba(200, 0, 0, 255));
    image.setDotsPerMeterX(5669);
    image.setDotsPerMeterY(5669);
    const struct {
        QImage::Format layout;
        const char* file;
    } cases[] = {
        {QImage::Format_ARGB32, "png"},     {QImage::Format_RGBA64, "png"},
        {QImage::Format_Indexed8, "png"},   {QImage::Format_RGB888, "png"},
        {QImage::Format_Grayscale8, "png"}, {QImage::Format_Grayscale16, "png"},
        {QImage::Format_RGB32, "jpeg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.layout << " " << c.file);
        test::writeFile(in("window"), encoded(image.convertToFormat(c.layout), c.file));
        QImage expected(90, 30, QImage::Format_RGB32);
        expected.fill(Qt::white);
        QPainter(&expected).drawImage(0, 0, QImage(in("window")));

        ASSERT_EQ(convertAndPlace(in("window"), out("window.jpg"), QStringLiteral("jpg")),
                  PlaceResult::placed);

        const QImage converted(out("window.jpg"), "JPEG");
        ASSERT_EQ(converted.size(), expected.size());
        for (const int x : {15, 45, 75})
            EXPECT_TRUE(near(converted.pixel(x, 15), expected.pixel(x, 15))) << x;
        if (expected.pixel(15, 15) != qRgb(0, 0, 0)) { // kept its transparency: white, never black
            EXPECT_TRUE(near(converted.pixel(15, 15), qRgb(255, 255, 255)));
        }
        EXPECT_EQ(qRound(converted.dotsPerMeterX() * 0.0254), 144);
        EXPECT_EQ(qRound(converted.dotsPerMeterY() * 0.0254), 144);
        QFile::remove(out("window.jpg"));
    }
}

TEST_F(FileConversionTest, PngFormatMovesAnyImageUnchanged)
{
    const QByteArray jpeg = encoded(screenshotLike(64, 48), "jpeg");
    test::writeFile(in("photo.jpg"), jpeg);

    ASSERT_EQ(convertAndPlace(in("photo.jpg"), out("photo.png"), QStringLiteral("PNG")), PlaceResult::placed);

    EXPECT_FALSE(QFile::exists(in("photo.jpg")));
    EXPECT_EQ(readAll(out("photo.png")), jpeg);
    EXPECT_EQ(outEntries(), QStringList{"photo.png"});
}

TEST_F(FileConversionTest, PdfIsWrittenFromACompleteImage)
{
    test::writeFile(in("shot.png"), encoded(screenshotLike(64, 48), "png"));

    ASSERT_EQ(convertAndPlace(in("shot.png"), out("shot.pdf"), QStringLiteral("pdf")), PlaceResult::placed);

    EXPECT_FALSE(QFile::exists(in("shot.png")));
    EXPECT_TRUE(readAll(out("shot.pdf")).startsWith("%PDF-"));
    EXPECT_EQ(outEntries(), QStringList{"shot.pdf"});
}

TEST_F(FileConversionTest, ExistingTargetIsLeftAloneInEveryFormat)
{
    const QByteArray source = encoded(screenshotLike(32, 32), "png");
    for (const char* format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format);
        const QString target = out(QStringLiteral("taken.") + format);
        test::writeFile(in("shot.png"), source);
        test::writeFile(target, "someone else's");

        EXPECT_EQ(convertAndPlace(in("shot.png"), target, QString::fromLatin1(format)),
                  PlaceResult::targetExists);

        EXPECT_EQ(readAll(in("shot.png")), source);
        EXPECT_EQ(readAll(target), "someone else's");
    }
    EXPECT_EQ(outEntries(), (QStringList{"taken.jpg", "taken.pdf", "taken.png"}));
}

TEST_F(FileConversionTest, NothingIsWrittenForWhatCannotBeConverted)
{
    const QByteArray png = encoded(screenshotLike(200, 120), "png");
    const QByteArray jpeg = encoded(screenshotLike(200, 120), "jpeg");
    QByteArray damaged = png;
    damaged[png.size() / 2] = char(damaged[png.size() / 2] ^ 0x55); // inside the pixel data, end intact
    struct Case {
        const char* what;
        QByteArray source; // empty: no source file
        const char* format;
        const char* target;
    };
    const Case cases[] = {
        {"unknown format jpeg", png, "jpeg", "out/a.jpeg"},
        {"empty format", png, "", "out/a"},
        {"not an image", "just some text, not pixels", "jpg", "out/a.jpg"},
        {"png cut short", png.left(png.size() * 2 / 3), "jpg", "out/a.jpg"},
        {"png without its end", png.left(png.size() - 12), "jpg", "out/a.jpg"},
        {"png with damaged pixel data", damaged, "pdf", "out/a.pdf"},
        {"jpeg cut short", jpeg.left(jpeg.size() * 2 / 3), "jpg", "out/a.jpg"},
        {"wider than the side cap", encoded(QImage(kMaxImageSide + 1, 1, QImage::Format_Mono), "png"), "jpg",
         "out/a.jpg"},
        {"missing source", {}, "jpg", "out/a.jpg"},
        {"missing source, moved", {}, "png", "out/a.png"},
        {"target folder missing", png, "jpg", "nowhere/a.jpg"},
        {"target folder missing, moved", png, "png", "nowhere/a.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString source = in(QStringLiteral("source"));
        QFile::remove(source);
        if (!c.source.isEmpty())
            test::writeFile(source, c.source);

        EXPECT_EQ(convertAndPlace(source, m_dir.filePath(QString::fromLatin1(c.target)),
                                  QString::fromLatin1(c.format)),
                  PlaceResult::failed);

        EXPECT_EQ(readAll(source), c.source);
        EXPECT_TRUE(outEntries().isEmpty()) << outEntries().join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("nowhere"))));
    }
    // Qt fails such a PNG but still hands out the rows it got; the PDF path must not take them.
    test::writeFile(in("damaged.png"), damaged);
    EXPECT_FALSE(decodeCompleteImage(in("damaged.png")));
}

TEST_F(FileConversionTest, FailedWriteKeepsTheSourceAndLeavesNothing)
{
    const QByteArray png = encoded(noise(400, 300), "png");
    test::writeFile(in("shot.png"), png);
    {
        const FileSizeLimit limit(png.size() / 2);
        EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot.jpg"), QStringLiteral("jpg")),
                  PlaceResult::failed);
        EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot.pdf"), QStringLiteral("pdf")),
                  PlaceResult::failed);
    }
    EXPECT_EQ(readAll(in("shot.png")), png);
    EXPECT_TRUE(outEntries().isEmpty()) << outEntries().join(' ').toStdString();
}

} // namespace
