#include "handle/SafeFilePlacement.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillary;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

dev_t deviceOf(const QString& path)
{
    struct stat info {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : dev_t(0);
}

QByteArray content(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((unsigned(i) * 2654435761u) >> 24);
    return bytes;
}

class SafeFilePlacementTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

TEST_F(SafeFilePlacementTest, MoveNeverReplacesWhatIsThere)
{
    test::writeFile(path("source"), "new");
    test::writeFile(path("file"), "old");
    ASSERT_EQ(symlink("missing", QFile::encodeName(path("dangling")).constData()), 0);

    EXPECT_EQ(moveNoReplace(path("source"), path("file")), PlaceResult::targetExists);
    EXPECT_EQ(moveNoReplace(path("source"), path("dangling")), PlaceResult::targetExists);
    EXPECT_EQ(moveNoReplace(path("source"), path("source")), PlaceResult::targetExists);

    EXPECT_EQ(readAll(path("source")), "new");
    EXPECT_EQ(readAll(path("file")), "old");
    EXPECT_EQ(QFileInfo(path("dangling")).symLinkTarget(), path("missing"));
    EXPECT_EQ(entries(m_dir.path()), (QStringList{"dangling", "file", "source"}));

    EXPECT_EQ(moveNoReplace(path("source"), path("moved")), PlaceResult::placed);
    EXPECT_EQ(readAll(path("moved")), "new");
    EXPECT_EQ(entries(m_dir.path()), (QStringList{"dangling", "file", "moved"}));
}

TEST_F(SafeFilePlacementTest, MoveAcrossFilesystemsCopiesThenRemovesTheSource)
{
    QTemporaryDir other(QStringLiteral("/dev/shm/quillary-test-XXXXXX"));
    if (!other.isValid() || deviceOf(other.path()) == deviceOf(m_dir.path()))
        GTEST_SKIP() << "no second filesystem to move to";
    const QByteArray bytes = content(3 << 20);
    test::writeFile(path("source"), bytes);
    const QDateTime modified = QDateTime::currentDateTime().addDays(-3);
    {
        QFile file(path("source"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    test::writeFile(other.filePath("taken"), "old");

    EXPECT_EQ(moveNoReplace(path("source"), other.filePath("taken")), PlaceResult::targetExists);
    {
        // A copy that cannot be written whole leaves the source and no trace at the target.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1 << 20;
        setrlimit(RLIMIT_FSIZE, &small);
        EXPECT_EQ(moveNoReplace(path("source"), other.filePath("moved")), PlaceResult::failed);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
    EXPECT_EQ(readAll(path("source")), bytes);
    EXPECT_EQ(entries(other.path()), QStringList{"taken"});

    EXPECT_EQ(moveNoReplace(path("source"), other.filePath("moved")), PlaceResult::placed);
    EXPECT_FALSE(QFile::exists(path("source")));
    EXPECT_EQ(readAll(other.filePath("moved")), bytes);
    EXPECT_EQ(QFileInfo(other.filePath("moved")).lastModified().toSecsSinceEpoch(),
              modified.toSecsSinceEpoch());
    EXPECT_EQ(readAll(other.filePath("taken")), "old");
    EXPECT_EQ(entries(other.path()), (QStringList{"moved", "taken"}));
}

TEST_F(SafeFilePlacementTest, WriteIsPlacedOnlyWhenComplete)
{
    EXPECT_EQ(writeNoReplace(path("partial"),
                             [](QIODevice& out) { return out.write(content(200000)) > 0 && false; }),
              PlaceResult::failed);
    EXPECT_EQ(writeNoReplace(path("missing/file"), [](QIODevice& out) { return out.write("x") == 1; }),
              PlaceResult::failed);
    // Someone takes the name while the content is being written.
    EXPECT_EQ(writeNoReplace(path("raced"),
                             [this](QIODevice& out) {
                                 test::writeFile(path("raced"), "theirs");
                                 return out.write("ours") == 4;
                             }),
              PlaceResult::targetExists);
    EXPECT_EQ(readAll(path("raced")), "theirs");
    EXPECT_EQ(entries(m_dir.path()), QStringList{"raced"});

    const QByteArray bytes = content(100000);
    EXPECT_EQ(
        writeNoReplace(path("whole"), [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); }),
        PlaceResult::placed);
    EXPECT_EQ(readAll(path("whole")), bytes);
    EXPECT_EQ(entries(m_dir.path()), (QStringList{"raced", "whole"}));
}

} // namespace
