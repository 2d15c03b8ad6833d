#include "handle/SafeFilePlacement.h"
#include "core/FileNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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

// Every entry, hidden ones included: temporary files must never remain.
QString entries(const QString& folder)
{
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
        .join(' ');
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
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{1 << 20, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_EQ(moveNoReplace(path("source"), other("moved")), PlaceResult::noSpace);
    setrlimit(RLIMIT_FSIZE, &saved);
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
    EXPECT_EQ(entries(m_dir.path()).replace(QRegularExpression("\\.live\\.jpg\\.quillary-\\w{6}"), "LIVE"),
              ".Q.jpg.quillary-abc-12 .Q.jpg.quillary-abc12 .Q.jpg.quillary-abc1234 .Q_3.jpg.quillary-abc123 "
              ".Q_4.jpg.quillary-abc123 LIVE .quillary-abc123 Q.jpg.quillary-abc123 source");
    EXPECT_EQ(live.commit(path("live.jpg")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("live.jpg")), "converted");
}

} // namespace
