#include "platform/linux/XdgAutostartLoginItem.h"

#include "QuillaryVersion.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace quillary {
namespace {

using Status = LoginItemService::Status;

// Reads an Exec value back the way a launcher does, strictly: string escapes first, then the
// quoting; anything the rules do not allow (unquoted reserved character, unknown escape or
// field code, open quote) gives nothing.
std::optional<QStringList> execArguments(const QString& raw)
{
    QString value;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != u'\\') {
            value += raw[i];
            continue;
        }
        const qsizetype known = ++i == raw.size() ? -1 : QString("\\sntr").indexOf(raw[i]);
        if (known < 0)
            return std::nullopt;
        value += QString("\\ \n\t\r")[known];
    }
    QStringList arguments;
    QString current;
    bool inArgument = false, quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'%' || (quoted && c == u'\\')) {
            const QString allowed = c == u'%' ? "%" : "\"`$\\";
            if (++i == value.size() || !allowed.contains(value[i]))
                return std::nullopt;
            current += value[i];
            inArgument = true;
        } else if (c == u'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (quoted) {
            current += c;
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else if (QString("'\\><~|&;$*?#`()").contains(c)) {
            return std::nullopt;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments << current;
    return arguments;
}

// The arguments the entry at `path` runs, read strictly.
std::optional<QStringList> entryRuns(const QString& path)
{
    for (const QByteArray& line : test::readFile(path).split('\n')) {
        if (line.startsWith("Exec="))
            return execArguments(QString::fromUtf8(line.sliced(5)));
    }
    return std::nullopt;
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

TEST_F(XdgAutostartLoginItemTest, RegisterWritesAValidEntryThatRunsExactlyTheProgram)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    EXPECT_EQ(item().status(), Status::notRegistered);
    EXPECT_EQ(item().entryPath(), autostartDir + "/org.quillary.Quillary.desktop");
    for (const QString path :
         {"/usr/bin/quillary", "/opt/50%off/q", "/home/a user/My Apps/quillary",
          "/tmp/it's \"quoted\"/quillary", "/tmp/$HOME/q", "/tmp/back\\slash\\\\/q", "/tmp/100%/%f %%u",
          "/tmp/`x`;(y)|&<>~*?#/q", "/tmp/tab\tnew\nline/q", "/tmp/ünï cödé/q"}) {
        SCOPED_TRACE(path.toStdString());
        auto service = item(path);
        ASSERT_EQ(service.registerApp(), std::nullopt);
        EXPECT_EQ(service.status(), Status::enabled);
        EXPECT_EQ(entryRuns(service.entryPath()), QStringList{path})
            << test::readFile(service.entryPath()).data();
        if (validator.isEmpty())
            continue;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(validator, {service.entryPath()});
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(process.readAll(), "");
    }
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
}

TEST_F(XdgAutostartLoginItemTest, StatusFollowsHiddenAndGnomeSwitchAndRegisterTurnsItBackOn)
{
    const std::pair<QByteArray, Status> cases[] = {
        {"X-GNOME-Autostart-enabled=false\n", Status::notRegistered},
        {"Hidden=false\nX-GNOME-Autostart-enabled=true\n", Status::enabled},
        {"#Hidden=true\n", Status::enabled},
        {"\n[Desktop Action other]\nHidden=true\n", Status::enabled},
        {"Hidden = TRUE\n", Status::notRegistered},
        {"Hidden=true\n", Status::notRegistered}, // left behind for registering over it
    };
    ASSERT_TRUE(QDir().mkpath(autostartDir));
    auto service = item("/new/quillary");
    for (const auto& [extra, expected] : cases) {
        test::writeFile(service.entryPath(),
                        "[Desktop Entry]\nType=Application\nExec=/old/quillary\n" + extra);
        EXPECT_EQ(service.status(), expected) << extra.toStdString();
    }
    ASSERT_EQ(service.registerApp(), std::nullopt);
    EXPECT_EQ(service.status(), Status::enabled);
    EXPECT_EQ(entryRuns(service.entryPath()), QStringList{"/new/quillary"});
}

TEST_F(XdgAutostartLoginItemTest, UnregisterRemovesTheEntryAndToleratesItsAbsence)
{
    auto service = item();
    EXPECT_EQ(service.unregisterApp(), std::nullopt) << "no folder yet";
    ASSERT_EQ(service.registerApp(), std::nullopt);
    EXPECT_EQ(service.unregisterApp(), std::nullopt);
    EXPECT_FALSE(QFile::exists(service.entryPath()));
    EXPECT_EQ(service.status(), Status::notRegistered);
    EXPECT_EQ(service.unregisterApp(), std::nullopt) << "folder, no entry";
}

TEST_F(XdgAutostartLoginItemTest, FailuresComeBackAsText)
{
    // A file where the folder should be: refused even as root, unlike permission bits.
    ASSERT_TRUE(QDir().mkpath(temp.filePath("config")));
    test::writeFile(autostartDir, "not a folder");
    const auto blocked = item().registerApp();
    ASSERT_TRUE(blocked.has_value());
    EXPECT_TRUE(blocked->contains(autostartDir)) << blocked->toStdString();

    // A non-empty folder where the entry should be: neither written over nor removed.
    ASSERT_TRUE(QFile::remove(autostartDir));
    auto service = item();
    ASSERT_TRUE(QDir().mkpath(service.entryPath() + "/inside"));
    EXPECT_TRUE(service.registerApp().has_value());
    EXPECT_TRUE(service.unregisterApp().has_value());
    EXPECT_TRUE(QDir(service.entryPath() + "/inside").exists());

    EXPECT_TRUE(item("").registerApp().has_value()) << "unknown program location";
}

TEST_F(XdgAutostartLoginItemTest, CreateDefaultHonoursXdgConfigHome)
{
    const auto saved = qEnvironmentVariableIsSet("XDG_CONFIG_HOME")
                           ? std::optional(qgetenv("XDG_CONFIG_HOME"))
                           : std::nullopt;
    const auto restore =
        qScopeGuard([&] { saved ? qputenv("XDG_CONFIG_HOME", *saved) : qunsetenv("XDG_CONFIG_HOME"); });
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.filePath("xdg")));

    const auto service = LoginItemService::createDefault();
    EXPECT_EQ(service->status(), Status::notRegistered);
    EXPECT_EQ(service->registerApp(), std::nullopt);
    EXPECT_EQ(service->status(), Status::enabled);
    EXPECT_EQ(entryRuns(temp.filePath("xdg/autostart/org.quillary.Quillary.desktop")),
              QStringList{QCoreApplication::applicationFilePath()});
}

} // namespace
} // namespace quillary
