#include "platform/Trash.h"

#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

using namespace quillary;

namespace {

class TrashTest : public ::testing::Test, public test::SessionHome {
protected:
    QString inHome(const QString& name) const { return home.filePath(name); }
};

// In a new account, without ~/.local/share yet. Path= is URL-escaped: "%41" must not come back as "A".
TEST_F(TrashTest, TrashedItemsKeepTheirPathInTheRecord)
{
    const QString name = QStringLiteral("Shot 100%41 \u00fc.png");
    test::writeFile(inHome(name), "pixels");
    ASSERT_TRUE(QDir().mkpath(inHome("Receipts/2024")));
    test::writeFile(inHome("Receipts/2024/a.png"), "a");

    for (const QString& item : {name, QStringLiteral("Receipts/")}) {
        ASSERT_TRUE(moveToTrash(inHome(item)));
        EXPECT_FALSE(QFileInfo::exists(inHome(item)));
        const QByteArray record =
            test::readFile(inHome(".local/share/Trash/info/" + QDir::cleanPath(item) + ".trashinfo"));
        const QString path = QRegularExpression("\nPath=(.*)\n").match(QString::fromUtf8(record)).captured(1);
        EXPECT_EQ(QString::fromUtf8(QByteArray::fromPercentEncoding(path.toUtf8())),
                  QDir::cleanPath(inHome(item)));
    }
    EXPECT_EQ(test::readFile(inHome(".local/share/Trash/files/" + name)), "pixels");
    EXPECT_EQ(test::readFile(inHome(".local/share/Trash/files/Receipts/2024/a.png")), "a");
}

TEST_F(TrashTest, WhatCannotBeTrashedStaysWhereItIs)
{
    EXPECT_FALSE(moveToTrash(inHome("absent.png")));
    EXPECT_FALSE(moveToTrash(QString()));

    // With the data folder under a regular file Qt misplaces the file into the working directory.
    const QTemporaryDir cwd;
    const QString savedCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    test::writeFile(inHome("blocker"), "");
    qputenv("XDG_DATA_HOME", QFile::encodeName(inHome("blocker/share")));
    test::writeFile(inHome("shot.png"), "pixels");
    EXPECT_FALSE(moveToTrash(inHome("shot.png")));
    EXPECT_EQ(test::readFile(inHome("shot.png")), "pixels");
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
    QDir::setCurrent(savedCwd);
}

TEST(TrashLocation, OnlyItemsDirectlyInATrashFilesFolderCount)
{
    const auto trashed = [](const char* pattern) {
        return isTrashedLocation(QString(pattern)
                                     .replace("UID", QString::number(::getuid()))
                                     .replace("OTHER", QString::number(::getuid() + 1)));
    };
    for (const char* path :
         {"/home/u/.local/share/Trash/files/a.png", "/m/.Trash-UID/files/a", "/m/.Trash/UID/files/a"})
        EXPECT_TRUE(trashed(path)) << path;
    for (const char* path :
         {"/m/.Trash-OTHER/files/a", "/m/.Trash/OTHER/files/a", "/m/UID/files/a", "h/Trash/files/a",
          "/h/projects/files/a", "/h/Trash/info/a", "/h/Trash/files/sub/a", "/h/Trash/files/"})
        EXPECT_FALSE(trashed(path)) << path;
}

} // namespace
