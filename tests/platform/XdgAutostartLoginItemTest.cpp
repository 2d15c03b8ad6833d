#include "platform/linux/XdgAutostartLoginItem.h"

#include "QuillaryVersion.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
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
        if (++i == raw.size())
            return std::nullopt;
        const qsizetype known = QStringLiteral("\\sntr").indexOf(raw[i]);
        if (known < 0)
            return std::nullopt;
        value += QStringLiteral("\\ \n\t\r")[known];
    }
    QStringList arguments;
    QString current;
    bool inArgument = false, quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'%') {
            if (++i == value.size() || value[i] != u'%')
                return std::nullopt;
            current += u'%';
            inArgument = true;
        } else if (quoted && c == u'\\') {
            if (++i == value.size() || !QStringLiteral("\"`$\\").contains(value[i]))
                return std::nullopt;
            current += value[i];
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
        } else if (QStringLiteral("'\\><~|&;$*?#`()").contains(c)) {
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

// The keys of the [Desktop Entry] group, values as written.
QMap<QString, QString> entryKeys(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QMap<QString, QString> keys;
    bool inMainGroup = false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.contains('='))
            keys.insert(QString::fromUtf8(line.first(line.indexOf('='))),
                        QString::fromUtf8(line.sliced(line.indexOf('=') + 1)));
    }
    return keys;
}

// Output of desktop-file-validate (empty when clean), or nothing when the tool is missing.
std::optional<QString> validatorComplaints(const QString& path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, {path});
    EXPECT_TRUE(process.waitForFinished(30000));
    const QString output = QString::fromUtf8(process.readAll());
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    return output;
}

class XdgAutostartLoginItemTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString autostartDir = temp.filePath(QStringLiteral("config/autostart"));
    QString appId = QString::fromLatin1(kAppId);

    XdgAutostartLoginItem item(const QString& executable = QStringLiteral("/usr/bin/quillary"))
    {
        return XdgAutostartLoginItem(autostartDir, executable, appId);
    }

    // Registers `executable`, then checks the entry runs exactly it and passes the validator.
    void expectRegisteredEntryRuns(const QString& executable)
    {
        auto service = item(executable);
        ASSERT_EQ(service.registerApp(), std::nullopt);
        EXPECT_EQ(service.status(), Status::enabled);
        const auto keys = entryKeys(service.entryPath());
        EXPECT_EQ(execArguments(keys.value(QStringLiteral("Exec"))), QStringList{executable})
            << keys.value(QStringLiteral("Exec")).toStdString();
        const auto complaints = validatorComplaints(service.entryPath());
        if (!complaints)
            GTEST_SKIP() << "desktop-file-validate is not installed";
        EXPECT_EQ(*complaints, QString()) << complaints->toStdString();
    }
};

TEST_F(XdgAutostartLoginItemTest, RegisterWritesAnEntryThatStartsTheProgram)
{
    auto service = item();
    EXPECT_EQ(service.status(), Status::notRegistered);
    EXPECT_EQ(service.entryPath(), autostartDir + QStringLiteral("/org.quillary.Quillary.desktop"));
    expectRegisteredEntryRuns(QStringLiteral("/usr/bin/quillary"));

    const auto keys = entryKeys(service.entryPath());
    EXPECT_EQ(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keys.value(QStringLiteral("Icon")), appId);
    EXPECT_EQ(keys.value(QStringLiteral("X-GNOME-Autostart-enabled")), QStringLiteral("true"));
    EXPECT_FALSE(keys.contains(QStringLiteral("Hidden")));
}

TEST_F(XdgAutostartLoginItemTest, ExecRoundTripsAwkwardPaths)
{
    for (const QString& path :
         {QStringLiteral("/home/a user/My Apps/quillary"), QStringLiteral("/tmp/it's \"quoted\"/quillary"),
          QStringLiteral("/tmp/$HOME/q"), QStringLiteral("/tmp/back\\slash\\\\/q"),
          QStringLiteral("/tmp/100%/%f %%u"), QStringLiteral("/tmp/`x`;(y)|&<>~*?#/q"),
          QStringLiteral("/tmp/tab\tnew\nline/q"), QStringLiteral("/tmp/ünï cödé/q")}) {
        SCOPED_TRACE(path.toStdString());
        expectRegisteredEntryRuns(path);
    }
}

TEST(XdgDesktopExecValueTest, QuotesOnlyWhenNeededAndEscapesTwice)
{
    const QList<std::pair<QString, QString>> cases = {
        {"/usr/bin/quillary", "/usr/bin/quillary"},
        {"/a b", "\"/a b\""},
        {"/a%b", "/a%%b"},
        {"/a$b", "\"/a\\\\$b\""},
        {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/a\"b", "\"/a\\\\\"b\""},
        {"/a'b", "\"/a'b\""},
        {"/a b%", "\"/a b%%\""},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(XdgAutostartLoginItem::desktopExecValue(path), expected) << path.toStdString();
}

TEST_F(XdgAutostartLoginItemTest, StatusFollowsHiddenAndGnomeSwitch)
{
    const QList<std::pair<QByteArray, Status>> cases = {
        {"Hidden=true\n", Status::notRegistered},
        {"Hidden=TRUE\n", Status::notRegistered},
        {"Hidden = true\n", Status::notRegistered},
        {"X-GNOME-Autostart-enabled=false\n", Status::notRegistered},
        {"Hidden=false\nX-GNOME-Autostart-enabled=true\n", Status::enabled},
        {"#Hidden=true\n", Status::enabled},
        {"\n[Desktop Action other]\nHidden=true\n", Status::enabled},
    };
    ASSERT_TRUE(QDir().mkpath(autostartDir));
    auto service = item();
    for (const auto& [extra, expected] : cases) {
        test::writeFile(service.entryPath(), "[Desktop Entry]\nType=Application\nExec=/x\n" + extra);
        EXPECT_EQ(service.status(), expected) << extra.toStdString();
    }
}

TEST_F(XdgAutostartLoginItemTest, RegisterReplacesAHiddenEntry)
{
    ASSERT_TRUE(QDir().mkpath(autostartDir));
    auto service = item(QStringLiteral("/new/quillary"));
    test::writeFile(service.entryPath(),
                    "[Desktop Entry]\nType=Application\nExec=/old/quillary\nHidden=true\n");
    ASSERT_EQ(service.status(), Status::notRegistered);

    ASSERT_EQ(service.registerApp(), std::nullopt);
    EXPECT_EQ(service.status(), Status::enabled);
    EXPECT_EQ(entryKeys(service.entryPath()).value(QStringLiteral("Exec")), QStringLiteral("/new/quillary"));
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
    ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("config"))));
    test::writeFile(autostartDir, "not a folder");
    const auto blocked = item().registerApp();
    ASSERT_TRUE(blocked.has_value());
    EXPECT_TRUE(blocked->contains(autostartDir)) << blocked->toStdString();

    // A non-empty folder where the entry should be: neither written over nor removed.
    ASSERT_TRUE(QFile::remove(autostartDir));
    auto service = item();
    ASSERT_TRUE(QDir().mkpath(service.entryPath() + QStringLiteral("/inside")));
    EXPECT_TRUE(service.registerApp().has_value());
    EXPECT_TRUE(service.unregisterApp().has_value());

    EXPECT_TRUE(item(QString()).registerApp().has_value()) << "unknown program location";
}

TEST_F(XdgAutostartLoginItemTest, CreateDefaultHonoursXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QString configHome = temp.filePath(QStringLiteral("xdg"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));

    const auto service = LoginItemService::createDefault();
    EXPECT_EQ(service->status(), Status::notRegistered);
    EXPECT_EQ(service->registerApp(), std::nullopt);
    const QString entry = configHome + QStringLiteral("/autostart/org.quillary.Quillary.desktop");
    EXPECT_EQ(execArguments(entryKeys(entry).value(QStringLiteral("Exec"))),
              QStringList{QCoreApplication::applicationFilePath()});
    EXPECT_EQ(service->status(), Status::enabled);

    if (wasSet)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace quillary
