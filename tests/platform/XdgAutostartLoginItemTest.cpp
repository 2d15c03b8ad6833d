#include "platform/linux/XdgAutostartLoginItem.h"

#include "QuillaryVersion.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace quillary;

namespace {

using Status = LoginItemService::Status;

QString execLine(const QString& path)
{
    const QRegularExpression exec("^Exec=(.*)$", QRegularExpression::MultilineOption);
    return exec.match(QString::fromUtf8(test::readFile(path))).captured(1);
}

class XdgAutostartLoginItemTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString autostartDir = temp.filePath("config/autostart");

    XdgAutostartLoginItem item(const QString& executable = "/usr/bin/quillary")
    {
        return XdgAutostartLoginItem(autostartDir, executable, QString::fromLatin1(kAppId));
    }
};

// Exec: quoted where needed, " ` $ \ escaped inside quotes, `%` doubled, then escaped as a string.
TEST_F(XdgAutostartLoginItemTest, RegisterWritesAValidEntryThatRunsExactlyTheProgram)
{
    const std::pair<QString, QString> cases[] = {
        {"/usr/bin/quillary", "/usr/bin/quillary"},
        {"/opt/50%off/ünï", "/opt/50%%off/ünï"},
        {"/home/a user/My Apps/q", R"("/home/a user/My Apps/q")"},
        {"/tmp/it's \"quoted\"/q", R"("/tmp/it's \\"quoted\\"/q")"},
        {"/tmp/$HOME/`x`\\/q", R"("/tmp/\\$HOME/\\`x\\`\\\\/q")"},
        {"/tmp/100% /%f", R"("/tmp/100%% /%%f")"},
        {"/tmp/tab\tnew\nline\r/q", R"("/tmp/tab\tnew\nline\r/q")"},
        {"/tmp/;(y)|&<>~*?#/q", R"("/tmp/;(y)|&<>~*?#/q")"},
    };
    ASSERT_TRUE(QDir().mkpath(temp.filePath("0"))); // the first registration replaces an entry turned off
    test::writeFile(temp.filePath("0/org.quillary.Quillary.desktop"),
                    "[Desktop Entry]\nExec=/old\nHidden=true\n");
    QStringList entries;
    for (const auto& [path, exec] : cases) {
        XdgAutostartLoginItem service(temp.filePath(QString::number(entries.size())), path, kAppId);
        ASSERT_EQ(service.registerApp(), std::nullopt);
        EXPECT_EQ(service.status(), Status::enabled);
        EXPECT_EQ(execLine(service.entryPath()), exec) << path.toStdString();
        entries << service.entryPath();
    }
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(QProcess::execute(validator, entries), 0);
}

TEST_F(XdgAutostartLoginItemTest, StatusFollowsTheEntry)
{
    const std::pair<QByteArray, Status> cases[] = {
        {"X-GNOME-Autostart-enabled=false\n", Status::notRegistered},
        {"Hidden=false\nX-GNOME-Autostart-enabled=true\n", Status::enabled},
        {"#Hidden=true\n", Status::enabled},
        {"\n[Desktop Action other]\nHidden=true\n", Status::enabled},
        {"Hidden = TRUE\n", Status::notRegistered}};
    EXPECT_EQ(item().status(), Status::notRegistered);
    EXPECT_EQ(item().unregisterApp(), std::nullopt) << "no folder yet";
    ASSERT_TRUE(QDir().mkpath(autostartDir));
    for (const auto& [extra, expected] : cases) {
        test::writeFile(item().entryPath(),
                        "[Desktop Entry]\nType=Application\nExec=/old/quillary\n" + extra);
        EXPECT_EQ(item().status(), expected) << extra.toStdString();
    }
    EXPECT_EQ(item().unregisterApp(), std::nullopt);
    EXPECT_FALSE(QFile::exists(item().entryPath()));
    EXPECT_EQ(item().unregisterApp(), std::nullopt) << "folder, no entry";
}

TEST_F(XdgAutostartLoginItemTest, FailuresComeBackAsText)
{
    // A file where the folder should be: refused even as root, unlike permission bits.
    ASSERT_TRUE(QDir().mkpath(temp.filePath("config")));
    test::writeFile(autostartDir, "not a folder");
    EXPECT_TRUE(item().registerApp().value_or("").contains(autostartDir));

    // A non-empty folder where the entry should be: neither written over nor removed.
    ASSERT_TRUE(QFile::remove(autostartDir));
    ASSERT_TRUE(QDir().mkpath(item().entryPath() + "/inside"));
    EXPECT_TRUE(item().registerApp().has_value());
    EXPECT_TRUE(item().unregisterApp().has_value());
    EXPECT_TRUE(QDir(item().entryPath() + "/inside").exists());

    EXPECT_TRUE(item("").registerApp().has_value()) << "unknown program location";
}

TEST_F(XdgAutostartLoginItemTest, CreateDefaultHonoursXdgConfigHome)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.filePath("xdg")));

    ASSERT_EQ(LoginItemService::createDefault()->registerApp(), std::nullopt);
    EXPECT_EQ(execLine(temp.filePath("xdg/autostart/org.quillary.Quillary.desktop")),
              QCoreApplication::applicationFilePath());
}

} // namespace
