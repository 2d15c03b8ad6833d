#include "handle/FileConversion.h"
#include "core/FileNames.h"
#include "imaging/ImageLimits.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QScopeGuard>
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

// Noise, which hardly compresses: every encoding of it is larger than half its PNG.
QByteArray noise(int width, int height, const char* format = "png")
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), width);
    return test::encoded(image, format);
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

    // Every entry of the target folder as bytes, hidden ones included: temporary files must never remain.
    QByteArray outEntries() const
    {
        QByteArrayList names;
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(toNativePath(out("")).constData()), &closedir);
        while (const dirent* entry = dir ? readdir(dir.get()) : nullptr)
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                names.append(entry->d_name);
        std::sort(names.begin(), names.end());
        return names.join(' ');
    }

    QTemporaryDir m_dir;
};

// "png" moves any image as it is; every format leaves an existing target and the source alone. Names
// are bytes: one that is not UTF-8 is read, moved and removed as it is.
TEST_F(FileConversionTest, EachFormatPlacesOnlyWhereNothingIs)
{
    const QByteArray source = noise(64, 48, "jpeg");
    const QString shot = in(fromNativePath("\xff\xfe"));
    for (const QString format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format.toStdString());
        test::writeFile(shot, source);
        test::writeFile(out("taken." + format), "someone else's");
        EXPECT_EQ(convertAndPlace(shot, out("taken." + format), format), PlaceResult::targetExists);
        EXPECT_EQ(test::readFile(out("taken." + format)), "someone else's");
        EXPECT_EQ(test::readFile(shot), source);

        const QString target = out(fromNativePath("\xfe\xff.") + format);
        ASSERT_EQ(convertAndPlace(shot, target, format.toUpper()), PlaceResult::placed);
        EXPECT_NE(::access(toNativePath(shot).constData(), F_OK), 0);
    }
    EXPECT_EQ(test::readFile(out(fromNativePath("\xfe\xff.png"))), source);
    EXPECT_EQ(QImage::fromData(test::readFile(out(fromNativePath("\xfe\xff.jpg"))), "JPEG").size(),
              QSize(64, 48));
    EXPECT_TRUE(test::readFile(out(fromNativePath("\xfe\xff.pdf"))).startsWith("%PDF-"));
    EXPECT_EQ(outEntries(), "taken.jpg taken.pdf taken.png \xfe\xff.jpg \xfe\xff.pdf \xfe\xff.png");
}

TEST_F(FileConversionTest, NothingIsWrittenForWhatCannotBeConverted)
{
    const QByteArray png = noise(200, 120);
    // What, source bytes (empty: no source file), format, target, outcome.
    const std::tuple<const char*, QByteArray, const char*, const char*, PlaceResult> cases[] = {
        {"unknown format", png, "jpeg", "out/a.jpeg", PlaceResult::unsupportedFormat},
        {"png cut short", png.left(png.size() * 2 / 3), "jpg", "out/a.jpg", PlaceResult::undecodable},
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
}

// A tool saves a newer version over the screenshot while it is being converted: a new file renamed
// over it, or the file rewritten in place. The newer version stays; the version read is placed.
TEST_F(FileConversionTest, ANewerVersionSavedDuringTheConversionStays)
{
    const QByteArray older = noise(64, 48);
    const QByteArray newer = noise(32, 24);
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

// Writes that fail part-way (EFBIG past a file size limit) or at once (a read-only folder).
TEST_F(FileConversionTest, AFailedWriteKeepsTheSourceAndLeavesNothing)
{
    const QByteArray png = noise(400, 300);
    test::writeFile(in("shot.png"), png);
    const auto expectUnwritable = [&](const QStringList& formats) {
        for (const QString& format : formats) {
            SCOPED_TRACE(format.toStdString());
            EXPECT_EQ(convertAndPlace(in("shot.png"), out("shot." + format), format),
                      PlaceResult::unwritable);
            EXPECT_EQ(test::readFile(in("shot.png")), png);
            EXPECT_EQ(outEntries(), "");
        }
    };
    {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(png.size() / 2), saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        const auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, handler);
        });
        expectUnwritable({"jpg", "pdf"});
    }
    const QByteArray outFolder = toNativePath(out(""));
    ASSERT_EQ(::chmod(outFolder.constData(), 0555), 0);
    const auto restore = qScopeGuard([&] { ::chmod(outFolder.constData(), 0755); });
    test::PermissionBitsEnforced enforced;
    if (!enforced.isEffective())
        GTEST_SKIP() << "running as root without the means to lower its file-permission override";
    expectUnwritable({"png", "jpg", "pdf"});
}

} // namespace
