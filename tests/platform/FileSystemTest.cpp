#include "platform/FileSystem.h"

#include "core/FileNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QStorageInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace quillary;

namespace {

// The Linux rename and the link() fallback it shares with other systems, on the same cases. "ro" is
// a folder nobody may write in; "other:" names lie on a second filesystem.
TEST(FileSystemTest, RenameNoReplaceOutcomes)
{
    using enum RenameOutcome;
    const std::tuple<const char*, const char*, RenameOutcome> cases[] = {
        {"source", "moved", placed}, {"source", "file", exists},     {"source", "dangling", exists},
        {"absent", "moved", failed}, {"ro/source", "moved", failed}, {"source", "other:moved", crossDevice}};
    QTemporaryDir other(QStringLiteral("/dev/shm/quillary-test-XXXXXX"));
    const bool hasOther =
        other.isValid() && QStorageInfo(other.path()).rootPath() != QStorageInfo(QDir::tempPath()).rootPath();
    const test::PermissionBitsEnforced enforced;
    for (const auto rename : {&renameNoReplace, &renameNoReplaceByLink}) {
        for (const auto& [from, to, expected] : cases) {
            const bool elsewhere = QByteArrayView(to).startsWith("other:");
            if ((elsewhere && !hasOther) ||
                (QByteArrayView(from).startsWith("ro/") && !enforced.isEffective()))
                continue;
            SCOPED_TRACE(testing::Message()
                         << (rename == &renameNoReplace ? "rename " : "link ") << from << " to " << to);
            QTemporaryDir dir;
            ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
            for (const char* name : {"source", "ro/source", "file"})
                test::writeFile(dir.filePath(name), QByteArrayView(name) == "file" ? "old" : "new");
            ASSERT_EQ(symlink("missing", toNativePath(dir.filePath("dangling")).constData()), 0);
            const QString target = elsewhere ? other.filePath(QString(to).sliced(6)) : dir.filePath(to);
            const QByteArray before = test::readFile(target);
            QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner);

            EXPECT_EQ(rename(toNativePath(dir.filePath(from)), toNativePath(target)), expected);
            const bool moved = expected == placed;
            EXPECT_EQ(QFile::exists(dir.filePath(from)), !moved && QByteArrayView(from) != "absent");
            EXPECT_EQ(test::readFile(target), moved ? "new" : before);
            QFile::remove(target);
            QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
}

TEST(FileSystemTest, ListsEveryEntryNameAsItsBytes)
{
    QTemporaryDir dir;
    const QByteArray odd = "caf\xE9 \xFF.png"; // not UTF-8
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    test::writeFile(dir.filePath(".hidden"), "");
    ASSERT_EQ(close(open((toNativePath(dir.path()) + '/' + odd).constData(), O_CREAT | O_WRONLY, 0600)), 0);
    ASSERT_EQ(symlink("missing", toNativePath(dir.filePath("dangling")).constData()), 0);

    QByteArrayList names;
    EXPECT_TRUE(forEachEntryName(dir.path(), [&](QByteArrayView name) { names << name.toByteArray(); }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, QByteArrayList({".hidden", odd, "dangling", "folder"}));
    EXPECT_FALSE(forEachEntryName(dir.filePath("missing"), [](QByteArrayView) { ADD_FAILURE(); }));
}

} // namespace
