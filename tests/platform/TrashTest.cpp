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

// Runs each test in a throw-away HOME with a throw-away working directory, which must stay empty:
// Qt's fallback for a trash it cannot make is the working directory.
class TrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_cwd.isValid());
        saveAndSet("HOME", m_home.path());
        saveAndSet("XDG_DATA_HOME", dataHome());
        m_savedCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_cwd.path()));
    }

    void TearDown() override
    {
        EXPECT_TRUE(
            QDir(m_cwd.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            << "left in the working directory: "
            << QDir(m_cwd.path())
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                   .join(u' ')
                   .toStdString();
        QDir::setCurrent(m_savedCwd);
        for (const auto& [name, value] : m_savedEnv)
            value ? qputenv(name, *value) : qunsetenv(name);
    }

    void saveAndSet(const char* name, const QString& value)
    {
        m_savedEnv.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                      : std::nullopt);
        qputenv(name, QFile::encodeName(value));
    }

    QString dataHome() const { return m_home.filePath(QStringLiteral("data")); }
    QString homeTrash() const { return dataHome() + QStringLiteral("/Trash"); }
    QString homePath(const QString& name) const { return m_home.filePath(name); }

    QTemporaryDir m_home;
    QTemporaryDir m_cwd;
    QString m_savedCwd;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_savedEnv;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(TrashTest, TrashedFileHasAValidInfoRecord)
{
    // Read afresh on each call, so the helper and Qt see the test's data folder.
    ASSERT_EQ(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), dataHome());
    // Path= is URL-escaped: a literal "%41" must not come back as "A".
    const QString name = QStringLiteral("Shot 100%41 \u00fc.png");
    const QString source = homePath(name);
    test::writeFile(source, "pixels");

    ASSERT_TRUE(moveToTrash(source));
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_EQ(readAll(homeTrash() + QStringLiteral("/files/") + name), "pixels");

    const QString infoPath = homeTrash() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
    const QByteArray record = readAll(infoPath);
    ASSERT_TRUE(record.startsWith("[Trash Info]\n")) << record.toStdString();
    QMap<QByteArray, QByteArray> keys;
    for (const QByteArray& line : record.split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            keys.insert(line.left(eq), line.mid(eq + 1));
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromPercentEncoding(keys.value("Path"))).toStdString(),
              source.toStdString());
    const QDateTime deleted =
        QDateTime::fromString(QString::fromLatin1(keys.value("DeletionDate")), Qt::ISODate);
    ASSERT_TRUE(deleted.isValid());
    EXPECT_LE(qAbs(deleted.secsTo(QDateTime::currentDateTime())), 60);
}

TEST_F(TrashTest, TrashClientListsTheTrashedFile)
{
    const QString source = homePath(QStringLiteral("shot 100%41.png"));
    test::writeFile(source, "pixels");
    ASSERT_TRUE(moveToTrash(source));

    const QString client = QStandardPaths::findExecutable(QStringLiteral("trash-list"));
    if (client.isEmpty())
        GTEST_SKIP() << "trash-list (trash-cli) is not installed";
    QProcess list;
    list.start(client, {});
    ASSERT_TRUE(list.waitForFinished(30000));
    const QString output = QString::fromUtf8(list.readAllStandardOutput());
    EXPECT_TRUE(output.contains(u' ' + source + u'\n')) << output.toStdString();
}

TEST_F(TrashTest, TrashesAFolderWithItsContents)
{
    const QString folder = homePath(QStringLiteral("Receipts"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/2024")));
    test::writeFile(folder + QStringLiteral("/2024/a.png"), "a");

    ASSERT_TRUE(moveToTrash(folder + u'/'));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(readAll(homeTrash() + QStringLiteral("/files/Receipts/2024/a.png")), "a");
    EXPECT_TRUE(QFileInfo::exists(homeTrash() + QStringLiteral("/info/Receipts.trashinfo")));
}

TEST_F(TrashTest, MissingFileFails)
{
    EXPECT_FALSE(moveToTrash(homePath(QStringLiteral("absent.png"))));
    EXPECT_FALSE(moveToTrash(QString()));
    EXPECT_FALSE(QFileInfo::exists(homeTrash() + QStringLiteral("/files/absent.png")));
}

TEST_F(TrashTest, FreshHomeWithoutDataFolderWorks)
{
    qunsetenv("XDG_DATA_HOME");
    const QString source = homePath(QStringLiteral("shot.png"));
    test::writeFile(source, "pixels");
    ASSERT_FALSE(QFileInfo::exists(homePath(QStringLiteral(".local"))));

    ASSERT_TRUE(moveToTrash(source));
    EXPECT_EQ(readAll(homePath(QStringLiteral(".local/share/Trash/files/shot.png"))), "pixels");
    EXPECT_TRUE(QFileInfo::exists(homePath(QStringLiteral(".local/share/Trash/info/shot.png.trashinfo"))));
}

TEST_F(TrashTest, UnusableDataFolderLeavesTheFileInPlace)
{
    // A data folder below a regular file can be made by no one, so Qt misplaces the file; it must
    // come back, with nothing left behind.
    test::writeFile(homePath(QStringLiteral("blocker")), "");
    qputenv("XDG_DATA_HOME", QFile::encodeName(homePath(QStringLiteral("blocker/share"))));
    const QString source = homePath(QStringLiteral("shot.png"));
    test::writeFile(source, "pixels");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(moveToTrash(source));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readAll(source), "pixels");
}

TEST(TrashLocation, OnlyItemsDirectlyInATrashFilesFolderCount)
{
    const QString uid = QString::number(::getuid());
    const QString otherUid = QString::number(::getuid() + 1);
    const std::vector<std::pair<QString, bool>> cases = {
        {QStringLiteral("/home/u/.local/share/Trash/files/a.png"), true},
        {QStringLiteral("/srv/data/Trash/files/Receipts"), true},
        {QStringLiteral("/media/usb/.Trash-") + uid + QStringLiteral("/files/a.png"), true},
        {QStringLiteral("/media/usb/.Trash/") + uid + QStringLiteral("/files/a.png"), true},
        {QStringLiteral("/media/usb/.Trash-") + otherUid + QStringLiteral("/files/a.png"), false},
        {QStringLiteral("/media/usb/.Trash/") + otherUid + QStringLiteral("/files/a.png"), false},
        {QStringLiteral("/media/usb/") + uid + QStringLiteral("/files/a.png"), false},
        {QStringLiteral("./files/a.png"), false},
        {QStringLiteral("Trash/files/a.png"), false},
        {QStringLiteral("/home/u/work/files/a.png"), false},
        {QStringLiteral("/home/u/.local/share/Trash/info/a.png"), false},
        {QStringLiteral("/home/u/.local/share/Trash/files/sub/a.png"), false},
        {QStringLiteral("/home/u/.local/share/Trash/files/"), false},
        {QString(), false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(isTrashedLocation(path), expected) << path.toStdString();
}

} // namespace
} // namespace quillary
