#include "handle/SafeFilePlacement.h"
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
    ASSERT_EQ(symlink("missing", QFile::encodeName(path("dangling")).constData()), 0);

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
        EXPECT_EQ(moveNoReplace(path("source"), other.filePath("moved")), PlaceResult::failed);
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
    const auto failing = [](QIODevice& out) { return out.write(content(200000)) > 0 && false; };
    EXPECT_EQ(writeNoReplace(path("partial"), failing), PlaceResult::failed);
    // Someone takes the name while the content is being written.
    const auto racing = [this](QIODevice& out) {
        test::writeFile(path("raced"), "theirs");
        return out.write("ours") == 4;
    };
    EXPECT_EQ(writeNoReplace(path("raced"), racing), PlaceResult::targetExists);
    EXPECT_EQ(test::readFile(path("raced")), "theirs");
    EXPECT_EQ(entries(m_dir.path()), "raced");

    const QByteArray bytes = content(100000);
    EXPECT_EQ(writeNoReplace(path("whole"), [&](QIODevice& out) { return out.write(bytes) == bytes.size(); }),
              PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("whole")), bytes);
    EXPECT_EQ(entries(m_dir.path()), "raced whole");
}

} // namespace
