#include "handle/SafeFilePlacement.h"
#include "core/FileNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
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

QByteArray content(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

class SafeFilePlacementTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

TEST_F(SafeFilePlacementTest, MoveNeverReplacesWhatIsThere)
{
    test::writeFile(path("source"), "new");
    test::writeFile(path("file"), "old");
    ASSERT_EQ(symlink("missing", toNativePath(path("dangling")).constData()), 0);

    for (const char* taken : {"file", "dangling", "source"})
        EXPECT_EQ(moveNoReplace(path("source"), path(taken)), PlaceResult::targetExists) << taken;
    EXPECT_EQ(test::readFile(path("source")), "new");
    EXPECT_EQ(test::readFile(path("file")), "old");
    EXPECT_EQ(QFileInfo(path("dangling")).symLinkTarget(), path("missing"));

    EXPECT_EQ(moveNoReplace(path("source"), path("moved")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("moved")), "new");
    EXPECT_EQ(entries(m_dir.path()), "dangling file moved");
}

TEST_F(SafeFilePlacementTest, MoveAcrossFilesystemsCopiesThenRemovesTheSource)
{
    QTemporaryDir other(QStringLiteral("/dev/shm/quillary-test-XXXXXX"));
    // A mount point between them is what makes rename() fail with EXDEV.
    if (!other.isValid() || QStorageInfo(other.path()).rootPath() == QStorageInfo(m_dir.path()).rootPath())
        GTEST_SKIP() << "no second filesystem to move to";
    const QByteArray bytes = content(3 << 20);
    test::writeFile(path("source"), bytes);
    const QDateTime modified = QDateTime::currentDateTime().addDays(-3);
    QFile file(path("source"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(modified, QFileDevice::FileModificationTime));
    test::writeFile(other.filePath("taken"), "old");
    EXPECT_EQ(moveNoReplace(path("source"), other.filePath("taken")), PlaceResult::targetExists);
    {
        // A copy that cannot be written whole (writes past 1 MiB fail) leaves no trace at the target.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{1 << 20, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, handler);
        });
        EXPECT_EQ(moveNoReplace(path("source"), other.filePath("moved")), PlaceResult::unwritable);
    }
    EXPECT_EQ(test::readFile(path("source")), bytes);
    EXPECT_EQ(entries(other.path()), "taken");

    EXPECT_EQ(moveNoReplace(path("source"), other.filePath("moved")), PlaceResult::placed);
    EXPECT_FALSE(QFile::exists(path("source")));
    EXPECT_EQ(test::readFile(other.filePath("moved")), bytes);
    EXPECT_EQ(QFileInfo(other.filePath("moved")).lastModified().toSecsSinceEpoch(),
              modified.toSecsSinceEpoch());
    EXPECT_EQ(test::readFile(other.filePath("taken")), "old");
    EXPECT_EQ(entries(other.path()), "moved taken");
}

TEST_F(SafeFilePlacementTest, WriteIsPlacedOnlyWhenComplete)
{
    test::writeFile(path("source"), "source");
    const auto failing = [](int, QIODevice& out) { return out.write(content(200000)) > 0 && false; };
    EXPECT_EQ(prepareWrite(path("source"), path("partial"), failing).commit(path("partial")),
              PlaceResult::undecodable);
    // Someone takes the name while the content is being written.
    const auto racing = [this](int, QIODevice& out) {
        test::writeFile(path("raced"), "theirs");
        return out.write("ours") == 4;
    };
    EXPECT_EQ(prepareWrite(path("source"), path("raced"), racing).commit(path("raced")),
              PlaceResult::targetExists);
    EXPECT_EQ(test::readFile(path("raced")), "theirs");
    EXPECT_EQ(entries(m_dir.path()), "raced source");

    const QByteArray bytes = content(100000);
    const auto whole = [&](int, QIODevice& out) { return out.write(bytes) == bytes.size(); };
    EXPECT_EQ(prepareWrite(path("source"), path("whole"), whole).commit(path("whole")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("whole")), bytes);
    EXPECT_EQ(entries(m_dir.path()), "raced whole");
}

// A tool saves a newer version over the file while it is copied to another filesystem: the newer
// version stays, and the copy of the one read is placed.
TEST_F(SafeFilePlacementTest, ANewerVersionSavedDuringACopyAcrossFilesystemsStays)
{
    QTemporaryDir other(QStringLiteral("/dev/shm/quillary-test-XXXXXX"));
    if (!other.isValid() || QStorageInfo(other.path()).rootPath() == QStorageInfo(m_dir.path()).rootPath())
        GTEST_SKIP() << "no second filesystem to move to";
    test::writeFile(path("source"), "older");
    PreparedPlacement prepared = prepareMove(path("source"));
    test::writeFile(path("newer"), "newer");
    ASSERT_EQ(::rename(toNativePath(path("newer")).constData(), toNativePath(path("source")).constData()), 0);

    EXPECT_EQ(prepared.commit(other.filePath("moved")), PlaceResult::sourceKept);
    EXPECT_EQ(test::readFile(path("source")), "newer");
    EXPECT_EQ(test::readFile(other.filePath("moved")), "older");
    EXPECT_EQ(entries(other.path()), "moved");
}

// Only our own temporary files that no writer holds are removed: a writer killed mid-way leaves one.
TEST_F(SafeFilePlacementTest, RemovesOnlyStaleTemporaryFilesOfOurOwn)
{
    QTemporaryDir second;
    test::writeFile(second.filePath(".Quil_7.pdf.quillary-Zz0123"), "stale");
    test::writeFile(path("target"), "elsewhere");
    const char* looksAlike[] = {".Quil_1.jpg.quillary-abc12", ".Quil_1.jpg.quillary-abc1234",
                                "Quil_1.jpg.quillary-abc123", ".Quil_1.jpg.quillary-abc-12",
                                ".quillary-abc123"};
    for (const char* name : looksAlike)
        test::writeFile(path(name), "not ours");
    test::writeFile(path(".Quil_2.jpg.quillary-abc123"), "stale");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(".Quil_3.jpg.quillary-abc123"));
    ASSERT_EQ(symlink("target", toNativePath(path(".Quil_4.jpg.quillary-abc123")).constData()), 0);
    // A conversion in progress: its file is written and waits to be placed.
    test::writeFile(path("source"), "source");
    PreparedPlacement live = prepareWrite(path("source"), path("live.jpg"),
                                          [](int, QIODevice& out) { return out.write("converted") == 9; });

    EXPECT_EQ(removeStaleTemporaryFiles({m_dir.path(), second.path(), path("missing")}), 2);
    EXPECT_EQ(entries(second.path()), "");
    QStringList kept = entries(m_dir.path()).split(' ');
    QStringList expected{".Quil_3.jpg.quillary-abc123", ".Quil_4.jpg.quillary-abc123", "source", "target"};
    expected << QStringList(std::begin(looksAlike), std::end(looksAlike))
             << kept.filter(".live.jpg.quillary-");
    kept.sort();
    expected.sort();
    EXPECT_EQ(kept.join(' '), expected.join(' '));
    EXPECT_EQ(kept.filter(".live.jpg.quillary-").size(), 1);
    EXPECT_EQ(live.commit(path("live.jpg")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("live.jpg")), "converted");
}

} // namespace
