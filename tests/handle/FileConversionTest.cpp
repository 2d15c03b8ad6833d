#include "handle/FileConversion.h"
#include "core/FileNames.h"
#include "handle/SafeFilePlacement.h"
#include "imaging/ImageLimits.h"
#include "platform/FileSystem.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillary;

namespace {

// An image whose every encoding is larger than half its PNG.
QByteArray picture(int width, int height, const char* format = "png")
{
    return test::encoded(test::pattern(QImage::Format_RGB32, width, height), format);
}

// Every entry of `folder` as bytes, hidden ones included: temporary files must never remain.
QByteArray entries(const QString& folder)
{
    QByteArrayList names;
    forEachEntryName(folder, [&](QByteArrayView name) { names << name.toByteArray(); });
    std::sort(names.begin(), names.end());
    return names.join(' ');
}

// Runs `run` with writes past `bytes` failing with EFBIG, as on a full disk.
void withFileSizeLimit(rlim_t bytes, const std::function<void()>& run)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    run();
    setrlimit(RLIMIT_FSIZE, &saved);
}

class FileConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("in") && QDir(m_dir.path()).mkpath("out"));
    }

    QString in(const QString& name) const { return m_dir.filePath("in/" + name); }
    QString out(const QString& name) const { return m_dir.filePath("out/" + name); }
    QByteArray outEntries() const { return entries(out("")); }

    QTemporaryDir m_dir;
};

// "png" moves the file as it is; no format replaces a target. Names that are not UTF-8 work.
TEST_F(FileConversionTest, EachFormatPlacesOnlyWhereNothingIs)
{
    const QByteArray source = picture(64, 48, "jpeg");
    const QString shot = in(fromNativePath("\xff\xfe"));
    for (const QString format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format.toStdString());
        test::writeFile(shot, source);
        test::writeFile(out("taken." + format), "someone else's");
        EXPECT_EQ(convertAndPlace(shot, out("taken." + format), format), PlaceResult::targetExists);
        EXPECT_EQ(test::readFile(out("taken." + format)), "someone else's");

        const QString target = out(fromNativePath("\xfe\xff.") + format);
        ASSERT_EQ(convertAndPlace(shot, target, format.toUpper()), PlaceResult::placed);
        EXPECT_NE(::access(toNativePath(shot).constData(), F_OK), 0);
        const QByteArray placed = test::readFile(target);
        EXPECT_TRUE(format == "png" ? placed == source
                                    : placed.startsWith(format == "jpg" ? "\xff\xd8\xff" : "%PDF-"));
    }
    EXPECT_EQ(outEntries(), "taken.jpg taken.pdf taken.png \xfe\xff.jpg \xfe\xff.pdf \xfe\xff.png");
}

TEST_F(FileConversionTest, NothingIsWrittenForWhatCannotBeConverted)
{
    const QByteArray png = picture(200, 120), jpeg = picture(200, 120, "jpeg");
    const QByteArray wide = test::encoded(QImage(kMaxImageSide + 1, 1, QImage::Format_Mono), "png");
    QByteArray damaged = png;
    damaged[png.indexOf("IDAT") + 40] ^= 0x10;
    using enum PlaceResult;
    // What, source bytes (none: no source file), formats, outcome (unwritable: the target folder is missing).
    std::vector<std::tuple<const char*, std::optional<QByteArray>, const char*, PlaceResult>> cases{
        {"unknown format", png, "jpeg", unsupportedFormat},
        {"PNG cut short", png.first(png.size() / 2), "jpg pdf", undecodable},
        {"PNG without IEND", png.chopped(12), "jpg pdf", undecodable},
        {"PNG with a damaged IDAT", damaged, "jpg pdf", undecodable},
        {"JPEG cut short", jpeg.first(jpeg.size() * 2 / 3), "jpg pdf", undecodable},
        {"wider than the side cap", wide, "jpg pdf", undecodable},
        {"not an image", "just some text, nothing like a picture\n", "jpg pdf", undecodable},
        {"empty", "", "jpg pdf", undecodable},
        {"missing source", std::nullopt, "jpg pdf", unreadable},
        {"target folder missing", png, "jpg pdf png", unwritable},
        {"disk full", png, "jpg pdf", noSpace},
    };
    for (const auto& [what, bytes] : test::imagesOfAbsurdSize())
        cases.emplace_back(what, bytes, "jpg pdf", undecodable);
    for (const auto& [what, bytes, formats, outcome] : cases) {
        for (const QString& format : QString(formats).split(' ')) {
            SCOPED_TRACE(what + (" to " + format).toStdString());
            QFile::remove(in("source"));
            if (bytes)
                test::writeFile(in("source"), *bytes);
            const QString target = m_dir.filePath((outcome == unwritable ? "nowhere/a." : "out/a.") + format);
            withFileSizeLimit(outcome == noSpace ? png.size() / 2 : RLIM_INFINITY,
                              [&] { EXPECT_EQ(convertAndPlace(in("source"), target, format), outcome); });
            EXPECT_EQ(test::readFile(in("source")), bytes.value_or(""));
            EXPECT_EQ(outEntries(), "");
            EXPECT_FALSE(QFile::exists(m_dir.filePath("nowhere")));
        }
    }
}

// A newer version saved over the source during the conversion (renamed over, or rewritten) stays.
TEST_F(FileConversionTest, ANewerVersionSavedDuringTheConversionStays)
{
    const QByteArray older = picture(64, 48);
    QByteArray rewritten = older;
    rewritten[20] = char(rewritten[20] ^ 1); // same size
    for (const QString format : {"jpg", "pdf"}) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(format.toStdString() + (inPlace ? " rewritten in place" : " renamed over"));
            test::writeFile(in("shot.png"), older);
            QFile::remove(out("shot." + format));
            PreparedPlacement prepared = prepareConversion(in("shot.png"), out("shot." + format), format);
            const QByteArray saved = inPlace ? rewritten : picture(32, 24);
            test::writeFile(in(inPlace ? "shot.png" : "new.png"), saved);
            // The clock may not have ticked since the first write: the time a later save gives.
            const timespec times[2] = {{0, UTIME_OMIT}, {QDateTime::currentSecsSinceEpoch() + 5, 0}};
            ASSERT_EQ(inPlace ? utimensat(AT_FDCWD, toNativePath(in("shot.png")).constData(), times, 0)
                              : ::rename(toNativePath(in("new.png")).constData(),
                                         toNativePath(in("shot.png")).constData()),
                      0);

            EXPECT_EQ(prepared.commit(out("shot." + format)), PlaceResult::sourceKept);
            EXPECT_EQ(test::readFile(in("shot.png")), saved);
            const QByteArray placed = test::readFile(out("shot." + format));
            EXPECT_TRUE(format == "jpg" ? QImage::fromData(placed).size() == QSize(64, 48)
                                        : placed.contains("/Width 64"));
        }
    }
}

// A link named like a screenshot is never read through, moved or removed.
TEST_F(FileConversionTest, LinksAreNeitherFollowedNorMoved)
{
    const QByteArray png = picture(20, 10);
    test::writeFile(m_dir.filePath("outside.png"), png);
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("real"));
    const std::pair<const char*, QString> links[] = {
        {"to a file outside", m_dir.filePath("outside.png")},
        {"to a folder", m_dir.filePath("real")},
        {"dangling", m_dir.filePath("missing.png")},
        {"to itself", in("Screenshot.png")},
    };
    for (const auto& [what, pointsAt] : links) {
        for (const QString format : {"png", "jpg", "pdf"}) {
            SCOPED_TRACE(what + (" to " + format).toStdString());
            ASSERT_EQ(
                ::symlink(toNativePath(pointsAt).constData(), toNativePath(in("Screenshot.png")).constData()),
                0);
            EXPECT_EQ(convertAndPlace(in("Screenshot.png"), out("a." + format), format),
                      PlaceResult::notRegularFile);
            EXPECT_EQ(outEntries(), "");
            ASSERT_EQ(::unlink(toNativePath(in("Screenshot.png")).constData()), 0) << "the link stays";
        }
    }
    EXPECT_EQ(test::readFile(m_dir.filePath("outside.png")), png);
}

class SafeFilePlacementTest : public ::testing::Test {
protected:
    // A folder on another filesystem (a mount point between them is what makes rename() fail).
    void SetUp() override
    {
        if (!m_other.isValid() ||
            QStorageInfo(m_other.path()).rootPath() == QStorageInfo(m_dir.path()).rootPath())
            GTEST_SKIP() << "no second filesystem to move to";
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString other(const QString& name) const { return m_other.filePath(name); }

    QTemporaryDir m_dir;
    QTemporaryDir m_other{QStringLiteral("/dev/shm/quillary-test-XXXXXX")};
};

TEST_F(SafeFilePlacementTest, MoveAcrossFilesystemsCopiesThenRemovesTheSource)
{
    const QByteArray bytes(3 << 20, 'b');
    test::writeFile(path("source"), bytes);
    const timespec modified[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, toNativePath(path("source")).constData(), modified, 0), 0);
    test::writeFile(other("taken"), "old");
    EXPECT_EQ(moveNoReplace(path("source"), other("taken")), PlaceResult::targetExists);
    // A copy that cannot be written whole (writes past 1 MiB fail with EFBIG) leaves no trace.
    withFileSizeLimit(
        1 << 20, [&] { EXPECT_EQ(moveNoReplace(path("source"), other("moved")), PlaceResult::noSpace); });
    EXPECT_EQ(entries(m_other.path()), "taken");

    EXPECT_EQ(moveNoReplace(path("source"), other("moved")), PlaceResult::placed);
    EXPECT_FALSE(QFile::exists(path("source")));
    EXPECT_EQ(test::readFile(other("moved")), bytes);
    EXPECT_EQ(QFileInfo(other("moved")).lastModified().toSecsSinceEpoch(), 1'000'000'000);
    EXPECT_EQ(test::readFile(other("taken")), "old");
    EXPECT_EQ(entries(m_other.path()), "moved taken");
}

// A newer version saved over the file while it is copied across stays; the version read is placed.
TEST_F(SafeFilePlacementTest, ANewerVersionSavedDuringACopyAcrossFilesystemsStays)
{
    test::writeFile(path("source"), "older");
    PreparedPlacement prepared = prepareMove(path("source"));
    test::writeFile(path("newer"), "newer");
    ASSERT_EQ(::rename(toNativePath(path("newer")).constData(), toNativePath(path("source")).constData()), 0);

    EXPECT_EQ(prepared.commit(other("moved")), PlaceResult::sourceKept);
    EXPECT_EQ(test::readFile(path("source")), "newer");
    EXPECT_EQ(test::readFile(other("moved")), "older");
    EXPECT_EQ(entries(m_other.path()), "moved");
}

// Only our own temporary files that no writer holds are removed: a writer killed mid-way leaves one.
TEST_F(SafeFilePlacementTest, RemovesOnlyStaleTemporaryFilesOfOurOwn)
{
    test::writeFile(other(".Q_1.pdf.quillary-Zz0123"), "stale");
    test::writeFile(path(".Q_2.jpg.quillary-abc123"), "stale");
    // Names that are not quite ours, and entries named as ours that are no regular file.
    for (const char* name : {".Q.jpg.quillary-abc12", ".Q.jpg.quillary-abc1234", "Q.jpg.quillary-abc123",
                             ".Q.jpg.quillary-abc-12", ".quillary-abc123"})
        test::writeFile(path(name), "not ours");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(".Q_3.jpg.quillary-abc123"));
    ASSERT_EQ(symlink("source", toNativePath(path(".Q_4.jpg.quillary-abc123")).constData()), 0);
    // A conversion in progress: its file is written and waits to be placed.
    test::writeFile(path("source"), "source");
    PreparedPlacement live = prepareWrite(path("source"), path("live.jpg"),
                                          [](int, QIODevice& out) { return out.write("converted") == 9; });

    EXPECT_EQ(removeStaleTemporaryFiles({m_dir.path(), m_other.path(), path("missing")}), 2);
    EXPECT_EQ(entries(m_other.path()), "");
    EXPECT_EQ(
        QString(entries(m_dir.path())).replace(QRegularExpression("\\.live\\.jpg\\.quillary-\\w{6}"), "LIVE"),
        ".Q.jpg.quillary-abc-12 .Q.jpg.quillary-abc12 .Q.jpg.quillary-abc1234 .Q_3.jpg.quillary-abc123 "
        ".Q_4.jpg.quillary-abc123 LIVE .quillary-abc123 Q.jpg.quillary-abc123 source");
    EXPECT_EQ(live.commit(path("live.jpg")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("live.jpg")), "converted");
}

} // namespace
