#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace quillary {
namespace {

// Each test runs in a throw-away HOME and a throw-away working directory that must stay empty: Qt's
// fallback for a trash it cannot make is the working directory.
class TrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_cwd.isValid());
        for (const char* name : {"HOME", "XDG_DATA_HOME"})
            m_savedEnv.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                          : std::nullopt);
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home("data")));
        ASSERT_TRUE(QDir::setCurrent(m_cwd.path()));
    }

    void TearDown() override
    {
        EXPECT_EQ(QDir(m_cwd.path())
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                  QStringList())
            << "left in the working directory";
        QDir::setCurrent(m_savedCwd);
        for (const auto& [name, value] : m_savedEnv)
            value ? qputenv(name, *value) : qunsetenv(name);
    }

    QString home(const QString& name) const { return m_home.filePath(name); }

    QTemporaryDir m_home, m_cwd;
    const QString m_savedCwd = QDir::currentPath();
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_savedEnv;
};

TEST_F(TrashTest, TrashedFileHasARecordTrashClientsRead)
{
    // Path= is URL-escaped: a literal "%41" must not come back as "A".
    const QString name = QStringLiteral("Shot 100%41 \u00fc.png");
    test::writeFile(home(name), "pixels");

    ASSERT_TRUE(moveToTrash(home(name)));
    EXPECT_FALSE(QFileInfo::exists(home(name)));
    EXPECT_EQ(test::readFile(home("data/Trash/files/" + name)), "pixels");
    const QByteArray record = test::readFile(home("data/Trash/info/" + name + ".trashinfo"));
    ASSERT_TRUE(record.startsWith("[Trash Info]\n")) << record.toStdString();
    QMap<QByteArray, QByteArray> keys;
    for (const QByteArray& line : record.split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            keys.insert(line.left(eq), line.mid(eq + 1));
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromPercentEncoding(keys.value("Path"))), home(name));
    const QDateTime deleted =
        QDateTime::fromString(QString::fromLatin1(keys.value("DeletionDate")), Qt::ISODate);
    EXPECT_TRUE(deleted.isValid() && qAbs(deleted.secsTo(QDateTime::currentDateTime())) <= 60)
        << keys.value("DeletionDate").toStdString();

    const QString client = QStandardPaths::findExecutable("trash-list");
    if (client.isEmpty())
        GTEST_SKIP() << "trash-list (trash-cli) is not installed";
    QProcess list;
    list.start(client, {});
    ASSERT_TRUE(list.waitForFinished(30000));
    const QString output = QString::fromUtf8(list.readAllStandardOutput());
    EXPECT_TRUE(output.contains(u' ' + home(name) + u'\n')) << output.toStdString();
}

TEST_F(TrashTest, FolderGoesWithItsContentsIntoAFreshHome)
{
    qunsetenv("XDG_DATA_HOME"); // a new account: no ~/.local/share yet
    ASSERT_TRUE(QDir().mkpath(home("Receipts/2024")));
    test::writeFile(home("Receipts/2024/a.png"), "a");

    ASSERT_TRUE(moveToTrash(home("Receipts/")));
    EXPECT_FALSE(QFileInfo::exists(home("Receipts")));
    EXPECT_EQ(test::readFile(home(".local/share/Trash/files/Receipts/2024/a.png")), "a");
    EXPECT_TRUE(QFileInfo::exists(home(".local/share/Trash/info/Receipts.trashinfo")));
}

TEST_F(TrashTest, WhatCannotBeTrashedStaysWhereItIs)
{
    EXPECT_FALSE(moveToTrash(home("absent.png")));
    EXPECT_FALSE(moveToTrash(QString()));

    // A data folder below a regular file can be made by no one, so Qt misplaces the file into the
    // working directory; it must come back, with nothing left there.
    test::writeFile(home("blocker"), "");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home("blocker/share")));
    test::writeFile(home("shot.png"), "pixels");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(moveToTrash(home("shot.png")));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(test::readFile(home("shot.png")), "pixels");
}

TEST(TrashLocation, OnlyItemsDirectlyInATrashFilesFolderCount)
{
    const std::pair<const char*, bool> cases[] = {
        {"/home/u/.local/share/Trash/files/a.png", true},
        {"/media/usb/.Trash-UID/files/a.png", true},
        {"/media/usb/.Trash/UID/files/a.png", true},
        {"/media/usb/.Trash-OTHER/files/a.png", false},
        {"/media/usb/.Trash/OTHER/files/a.png", false},
        {"/media/usb/UID/files/a.png", false},
        {"home/u/.local/share/Trash/files/a.png", false}, // relative
        {"/home/u/projects/files/a.png", false},
        {"/home/u/.local/share/Trash/info/a.png", false},
        {"/home/u/.local/share/Trash/files/sub/a.png", false},
        {"/home/u/.local/share/Trash/files/", false},
    };
    for (const auto& [pattern, expected] : cases) {
        const QString path = QString::fromLatin1(pattern)
                                 .replace("UID", QString::number(::getuid()))
                                 .replace("OTHER", QString::number(::getuid() + 1));
        EXPECT_EQ(isTrashedLocation(path), expected) << path.toStdString();
    }
}

} // namespace
} // namespace quillary
