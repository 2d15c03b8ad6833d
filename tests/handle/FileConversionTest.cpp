#include "handle/FileConversion.h"
#include "core/FileNames.h"
#include "handle/ImageLimits.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

using namespace quillary;

namespace {

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
    const QRgb bands[] = {qRgb(220, 20, 20), qRgb(20, 200, 20), qRgb(20, 20, 220)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, y < height / 4 ? bands[x * 3 / width] : qRgb(x * 255 / width, y * 255 / height, 128));
    return image;
}

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 6 && std::abs(qGreen(a) - qGreen(b)) <= 6 &&
           std::abs(qBlue(a) - qBlue(b)) <= 6;
}

QString identify(const QString& format, const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("identify"), {QStringLiteral("-format"), format, path});
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class FileConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        applyImageDecodingLimits();
        ASSERT_TRUE(m_dir.isValid() && QDir(m_dir.path()).mkpath("in") && QDir(m_dir.path()).mkpath("out"));
    }

    QString in(const QString& name) const { return m_dir.filePath("in/" + name); }
    QString out(const QString& name) const { return m_dir.filePath("out/" + name); }

    // Every entry of the target folder, hidden ones included: temporary files must never remain.
    QString outEntries() const
    {
        return QDir(m_dir.filePath("out"))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
            .join(' ');
    }

    QTemporaryDir m_dir;
};

TEST_F(FileConversionTest, PngBecomesQuality90JpegWithoutChromaSubsampling)
{
    const QImage original = screenshotLike(640, 400);
    // TurboJPEG reads options from the environment too; per-image Huffman tables cannot be streamed
    // in strips, and the fallback must give the same result.
    for (const char* optimize : {"1", ""}) {
        SCOPED_TRACE(optimize);
        qputenv("TJ_OPTIMIZE", optimize);
        test::writeFile(in("shot.png"), encoded(original, "png"));
        QFile::remove(out("shot.jpg"));

        ASSERT_EQ(convertAndPlace(in("shot.png"), out("shot.jpg"), "JPG"), PlaceResult::placed);

        EXPECT_FALSE(QFile::exists(in("shot.png")));
        EXPECT_EQ(outEntries(), "shot.jpg");
        const QImage converted(out("shot.jpg"), "JPEG");
        ASSERT_EQ(converted.size(), original.size());
        for (const QPoint at :
             {QPoint(100, 50), QPoint(320, 50), QPoint(540, 50), QPoint(320, 300), QPoint(9, 399)})
            EXPECT_TRUE(near(converted.pixel(at), original.pixel(at))) << at.x() << "," << at.y();
    }
    qunsetenv("TJ_OPTIMIZE");
    if (QStandardPaths::findExecutable("identify").isEmpty())
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    EXPECT_EQ(identify("%Q %[jpeg:sampling-factor]", out("shot.jpg")), "90 1x1,1x1,1x1");
}

// Thirds: transparent, half-transparent black, opaque red, at 144 dpi, in every pixel layout a file
// can bring, streamed in strips and (with TJ_OPTIMIZE) decoded whole. Expected: the source as Qt
// reads it, painted on white.
TEST_F(FileConversionTest, EveryPixelLayoutIsLaidOnWhiteWithItsResolution)
{
    QImage image(90, 130, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(30, 0, 30, 130, QColor(0, 0, 0, 128));
    QPainter(&image).fillRect(60, 0, 30, 130, QColor(200, 0, 0));
    image.setDotsPerMeterX(5669);
    image.setDotsPerMeterY(5669);
    for (const char* optimize : {"", "1"}) {
        qputenv("TJ_OPTIMIZE", optimize);
        for (const QImage::Format layout :
             {QImage::Format_ARGB32, QImage::Format_RGBA64, QImage::Format_Indexed8, QImage::Format_RGB888,
              QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB32}) {
            const char* format = layout == QImage::Format_RGB32 ? "jpeg" : "png";
            SCOPED_TRACE(testing::Message() << layout << " " << format << " TJ_OPTIMIZE=" << optimize);
            test::writeFile(in("window"),
                            encoded(image.convertToFormat(layout, Qt::ThresholdDither), format));
            QImage expected(image.size(), QImage::Format_RGB32);
            expected.fill(Qt::white);
            QPainter(&expected).drawImage(0, 0, QImage(in("window")));
            QFile::remove(out("window.jpg"));

            ASSERT_EQ(convertAndPlace(in("window"), out("window.jpg"), "jpg"), PlaceResult::placed);

            const QImage converted(out("window.jpg"), "JPEG");
            ASSERT_EQ(converted.size(), expected.size());
            for (const int x : {15, 45, 75}) // where transparency is kept, the first third is white
                EXPECT_TRUE(near(converted.pixel(x, 100), expected.pixel(x, 100))) << x;
            EXPECT_EQ(qRound(converted.dotsPerMeterX() * 0.0254), 144);
            EXPECT_EQ(qRound(converted.dotsPerMeterY() * 0.0254), 144);
        }
    }
    qunsetenv("TJ_OPTIMIZE");
}

// "png" moves any image as it is; every format leaves an existing target and the source alone.
TEST_F(FileConversionTest, EachFormatPlacesOnlyWhereNothingIs)
{
    const QByteArray source = encoded(screenshotLike(64, 48), "jpeg");
    for (const QString format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format.toStdString());
        test::writeFile(in("shot"), source);
        test::writeFile(out("taken." + format), "someone else's");
        EXPECT_EQ(convertAndPlace(in("shot"), out("taken." + format), format), PlaceResult::targetExists);
        EXPECT_EQ(test::readFile(out("taken." + format)), "someone else's");
        EXPECT_EQ(test::readFile(in("shot")), source);

        ASSERT_EQ(convertAndPlace(in("shot"), out("shot." + format), format.toUpper()), PlaceResult::placed);
        EXPECT_FALSE(QFile::exists(in("shot")));
    }
    EXPECT_EQ(test::readFile(out("shot.png")), source);
    EXPECT_EQ(QImage(out("shot.jpg"), "JPEG").size(), QSize(64, 48));
    EXPECT_TRUE(test::readFile(out("shot.pdf")).startsWith("%PDF-"));
    EXPECT_EQ(outEntries(), "shot.jpg shot.pdf shot.png taken.jpg taken.pdf taken.png");
}

TEST_F(FileConversionTest, NothingIsWrittenForWhatCannotBeConverted)
{
    const QByteArray png = encoded(screenshotLike(200, 120), "png");
    const QByteArray jpeg = encoded(screenshotLike(200, 120), "jpeg");
    QByteArray damaged = png;
    damaged[png.size() / 2] = char(damaged[png.size() / 2] ^ 0x55); // inside the pixel data, end intact
    // What, source bytes (empty: no source file), format, target, outcome.
    const std::tuple<const char*, QByteArray, const char*, const char*, PlaceResult> cases[] = {
        {"unknown format", png, "jpeg", "out/a.jpeg", PlaceResult::unsupportedFormat},
        {"not an image", "just some text, not pixels", "jpg", "out/a.jpg", PlaceResult::undecodable},
        {"png cut short", png.left(png.size() * 2 / 3), "jpg", "out/a.jpg", PlaceResult::undecodable},
        {"png without its end", png.left(png.size() - 12), "jpg", "out/a.jpg", PlaceResult::undecodable},
        {"png with damaged pixel data", damaged, "pdf", "out/a.pdf", PlaceResult::undecodable},
        {"jpeg cut short", jpeg.left(jpeg.size() * 2 / 3), "jpg", "out/a.jpg", PlaceResult::undecodable},
        {"wider than the side cap", encoded(QImage(kMaxImageSide + 1, 1, QImage::Format_Mono), "png"), "jpg",
         "out/a.jpg", PlaceResult::undecodable},
        {"missing source", {}, "jpg", "out/a.jpg", PlaceResult::unreadable},
        {"target folder missing", png, "jpg", "nowhere/a.jpg", PlaceResult::unwritable},
        {"target folder missing for a move", png, "png", "nowhere/a.png", PlaceResult::unwritable},
    };
    for (const auto& [what, bytes, format, target, outcome] : cases) {
        SCOPED_TRACE(what);
        const QString source = in("source");
        QFile::remove(source);
        if (!bytes.isEmpty())
            test::writeFile(source, bytes);
        EXPECT_EQ(convertAndPlace(source, m_dir.filePath(target), format), outcome);
        EXPECT_EQ(test::readFile(source), bytes);
        EXPECT_EQ(outEntries(), "");
        EXPECT_FALSE(QFile::exists(m_dir.filePath("nowhere")));
    }
    // Qt fails such a PNG but still hands out the rows it got; the whole-image fallback must not.
    EXPECT_FALSE(decodeCompleteImage(damaged));
}

// A tool saves a newer version over the screenshot while it is being converted: a new file renamed
// over it, or the file rewritten in place. The newer version stays; the version read is placed.
TEST_F(FileConversionTest, ANewerVersionSavedDuringTheConversionStays)
{
    const QByteArray older = encoded(screenshotLike(64, 48), "png");
    const QByteArray newer = encoded(screenshotLike(32, 24), "png");
    QByteArray rewritten = older;
    rewritten[20] = char(rewritten[20] ^ 1); // same size
    const std::pair<const char*, std::function<QByteArray(const QString&)>> saves[] = {
        {"renamed over",
         [&](const QString& path) {
             test::writeFile(path + ".new", newer);
             EXPECT_EQ(::rename(toNativePath(path + ".new").constData(), toNativePath(path).constData()), 0);
             return newer;
         }},
        {"rewritten in place",
         [&](const QString& path) {
             test::writeFile(path, rewritten);
             // The clock may not have ticked since the first write: the time a later save gives.
             const timespec times[2] = {{0, UTIME_OMIT}, {QDateTime::currentSecsSinceEpoch() + 5, 0}};
             EXPECT_EQ(utimensat(AT_FDCWD, toNativePath(path).constData(), times, 0), 0);
             return rewritten;
         }},
    };
    for (const QString format : {"jpg", "pdf"}) {
        for (const auto& [how, save] : saves) {
            SCOPED_TRACE(format.toStdString() + " " + how);
            test::writeFile(in("shot.png"), older);
            QFile::remove(out("shot." + format));
            PreparedPlacement prepared = prepareConversion(in("shot.png"), out("shot." + format), format);
            const QByteArray saved = save(in("shot.png"));

            EXPECT_EQ(prepared.commit(out("shot." + format)), PlaceResult::sourceKept);
            EXPECT_EQ(test::readFile(in("shot.png")), saved);
            const QByteArray placed = test::readFile(out("shot." + format));
            if (format == "jpg")
                EXPECT_EQ(QImage::fromData(placed).size(), QSize(64, 48));
            else
                EXPECT_TRUE(placed.contains("/Width 64"));
        }
    }
}

// Names are bytes: one that is not UTF-8 is read, moved and removed as it is.
TEST_F(FileConversionTest, ANameThatIsNotUtf8IsMovedAndConverted)
{
    const QByteArray png = encoded(screenshotLike(40, 30), "png");
    const QString source = in(fromNativePath("\xff\xfe.png"));
    const auto listed = [this] {
        QByteArrayList names;
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(toNativePath(out("")).constData()), &closedir);
        while (const dirent* entry = dir ? readdir(dir.get()) : nullptr)
            if (entry->d_name[0] != '.')
                names.append(entry->d_name);
        std::sort(names.begin(), names.end());
        return names;
    };
    // Format, target name; the move keeps the source's name.
    const std::pair<const char*, QByteArray> cases[] = {{"png", "\xff\xfe.png"}, {"jpg", "shot.jpg"}};
    QByteArrayList expected;
    for (const auto& [format, name] : cases) {
        SCOPED_TRACE(format);
        const int fd =
            ::open(toNativePath(source).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, png.constData(), size_t(png.size())), png.size());
        ::close(fd);

        EXPECT_EQ(convertAndPlace(source, out(fromNativePath(name)), format), PlaceResult::placed);
        EXPECT_NE(::access(toNativePath(source).constData(), F_OK), 0);
        expected.append(name);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed(), expected);
    }
}

TEST_F(FileConversionTest, AReadOnlyTargetFolderKeepsTheSource)
{
    const QByteArray png = encoded(screenshotLike(120, 80), "png");
    test::writeFile(in("shot.png"), png);
    const QByteArray outFolder = toNativePath(out(""));
    ASSERT_EQ(::chmod(outFolder.constData(), 0555), 0);
    const auto restore = qScopeGuard([&] { ::chmod(outFolder.constData(), 0755); });
    test::PermissionBitsEnforced enforced;
    if (!enforced.isEffective())
        GTEST_SKIP() << "running as root without the means to lower its file-permission override";
    for (const QString format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format.toStdString());
        EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot." + format), format), PlaceResult::unwritable);
        EXPECT_EQ(test::readFile(in("shot.png")), png);
        EXPECT_EQ(outEntries(), "");
    }
}

TEST_F(FileConversionTest, FailedWriteKeepsTheSourceAndLeavesNothing)
{
    // Noise hardly compresses: every encoding of it is larger than the limit below.
    QImage noise(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QByteArray png = encoded(noise, "png");
    test::writeFile(in("shot.png"), png);

    // Writes past half the source's size fail with EFBIG.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{rlim_t(png.size() / 2), saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    });
    EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot.jpg"), "jpg"), PlaceResult::unwritable);
    EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot.pdf"), "pdf"), PlaceResult::unwritable);
    EXPECT_EQ(test::readFile(in("shot.png")), png);
    EXPECT_EQ(outEntries(), "");
}

} // namespace
