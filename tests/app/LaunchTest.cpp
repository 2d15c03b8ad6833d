// The real binary in a throw-away HOME, without a display: it must find the screenshot folder, say
// what it watches, hand later launches over to the running one, and end cleanly when asked.
#include "core/FileNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <iostream>
#include <linux/capability.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class LaunchTest : public ::testing::Test {
protected:
    QString settingsPath() const { return home.filePath(QStringLiteral(".config/Quillary/Quillary.conf")); }

    // Starts Quillary and waits for its watching line; `output` collects its standard output.
    std::unique_ptr<QProcess> startUntilWatching(QByteArray& output)
    {
        auto quillary = std::make_unique<QProcess>();
        quillary->setProcessEnvironment(environment());
        // A shell without job control starts background jobs ignoring SIGINT; the test sends it. Root
        // may be held to permission bits: without these two it cannot read what its mode forbids.
        quillary->setChildProcessModifier([drop = m_dropOverrides] {
            ::signal(SIGINT, SIG_DFL);
            if (drop && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
                         ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0))
                ::_exit(126);
        });
        quillary->start(QStringLiteral(QUILLARY_BINARY), {});
        EXPECT_TRUE(quillary->waitForStarted(5000));
        quillary::test::waitUntil( // the child's pipe is only read while events are processed
            [&] { return output.append(quillary->readAllStandardOutput()).contains(" — access: "); }, 8000ms);
        return quillary;
    }

    // A launch while another may run: its exit code (-1 for a crash) and standard output.
    std::pair<int, QString> launch(const QStringList& arguments)
    {
        QProcess launch;
        launch.setProcessEnvironment(environment());
        launch.start(QStringLiteral(QUILLARY_BINARY), arguments);
        EXPECT_TRUE(launch.waitForFinished(8000)) << arguments.join(u' ').toStdString();
        return {launch.exitStatus() == QProcess::NormalExit ? launch.exitCode() : -1,
                QString::fromUtf8(launch.readAllStandardOutput())};
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        return env;
    }

    QTemporaryDir home;
    bool m_dropOverrides = false;
};

// Whether permission bits can hold for a child: always for a user, for root only where it may drop
// capabilities from the bounding set (CAP_SETPCAP).
bool permissionBitsCanHold()
{
    if (::geteuid() != 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    return ::syscall(SYS_capget, &header, data) == 0 && (data[0].effective & (1u << CAP_SETPCAP)) != 0;
}

// Without configuration it watches ~/Desktop headless and stores the four standard folders, with
// Desktop's selected; a later launch hands its request to it instead of starting a second one.
TEST_F(LaunchTest, AFirstLaunchWatchesTheDesktopAndLaterOnesHandOverTheirRequests)
{
    QByteArray output;
    const std::unique_ptr<QProcess> first = startUntilWatching(output);
    for (const QString& line :
         {QStringLiteral("⚠️ Quillary: No display server"),
          QStringLiteral("📍 Quillary: Watching Desktop...\n"),
          QStringLiteral("📍 Quillary: Watching %1/Desktop — access: OK ✅\n").arg(home.path())})
        EXPECT_TRUE(QString::fromUtf8(output).contains(line)) << output.toStdString();
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const QJsonArray folders =
        QJsonDocument::fromJson(settings.value("savedFolders_v2").toString().toUtf8()).array();
    QStringList names;
    for (const QJsonValue& folder : folders)
        names << folder["name"].toString();
    EXPECT_EQ(names, (QStringList{"Desktop", "Documents", "Downloads", "Pictures"}));
    const QString selected = settings.value("selectedFolderID").toString();
    EXPECT_TRUE(!selected.isEmpty() && selected == folders[0]["id"].toString()) << selected.toStdString();

    const auto [code, text] = launch({});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(text.endsWith(u"📍 Quillary: Already running; asked it to show itself\n"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(u" — access: ")) << "the later launch watches nothing";
    EXPECT_EQ(launch({QStringLiteral("--pause")}).first, 0);
    EXPECT_TRUE(quillary::test::readFile(settingsPath()).contains("isPaused=true"));
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(launch({QStringLiteral("--quit")}).first, 0);
    EXPECT_TRUE(first->waitForFinished(8000));
    EXPECT_EQ(first->exitStatus() == QProcess::NormalExit ? first->exitCode() : -1, 0);
    const auto [quitCode, quitText] = launch({QStringLiteral("--quit")});
    EXPECT_EQ(quitCode, 0);
    EXPECT_TRUE(quitText.endsWith(u"📍 Quillary: Not running; nothing to quit\n")) << quitText.toStdString();
}

// Every start here finds a FIFO where the settings file goes (reading it would wait for a writer
// forever); the first also finds the lock and the socket of a killed instance, and must take them
// over for a later launch to reach it.
TEST_F(LaunchTest, TerminationSignalsQuitCleanly)
{
    QDir().mkpath(QFileInfo(settingsPath()).path());
    ASSERT_EQ(::mkfifo(quillary::toNativePath(settingsPath()).constData(), 0600), 0);
    QByteArray output;
    const std::unique_ptr<QProcess> killed = startUntilWatching(output);
    killed->kill();
    ASSERT_TRUE(killed->waitForFinished(5000));
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        output.clear();
        const std::unique_ptr<QProcess> quillary = startUntilWatching(output);
        ASSERT_EQ(quillary->state(), QProcess::Running) << signal;
        EXPECT_TRUE(output.contains("⚠️ Quillary: The settings file " +
                                    quillary::toNativePath(settingsPath()) +
                                    " is not a regular file; using defaults and not saving\n"))
            << output.toStdString();
        EXPECT_TRUE(launch({QStringLiteral("--resume")}).second.endsWith(u"Already running; resumed it\n"));
        quillary->readAllStandardError();                          // what start-up said
        ::kill(static_cast<pid_t>(quillary->processId()), signal); // its own: not kill(0, …)
        ASSERT_TRUE(quillary->waitForFinished(5000)) << signal;
        EXPECT_EQ(quillary->exitStatus() == QProcess::NormalExit ? quillary->exitCode() : -1, 0) << signal;
        const QString after = QString::fromUtf8(quillary->readAllStandardOutput());
        EXPECT_FALSE(after.contains(u"⚠️") || after.contains(u"❌")) << after.toStdString();
        EXPECT_EQ(quillary->readAllStandardError(), "") << signal;
    }
    EXPECT_FALSE(QFileInfo(settingsPath()).isFile()) << "something was saved over the FIFO";
}

// A settings file that cannot be used is never lost: Quillary starts on what it can read, says what
// it could not, and either leaves the file alone or keeps a copy before its first write replaces it.
TEST_F(LaunchTest, AnUnusableSettingsFileIsReportedAndNeverLost)
{
    const QByteArray users = "[General]\nautoMove=true\nclipboardSyncFolder=Pictures\n";
    QByteArray garbage(4096, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) % 251);
    const QByteArray damaged = users + QByteArray(64, '\0') + "\n[Gen\nisPaused=true\n";
    const QString copy = settingsPath() + ".unreadable";
    struct Case {
        const char* what;
        QByteArray content; // written to the settings file, which is a directory when empty
        mode_t mode;
        const char* line;      // what Quillary says after "The settings file PATH"; null: it kept a copy
        const char* keptValue; // a value of the user's file still in use (read back from the file)
    };
    const Case cases[] = {
        {"a directory", {}, 0755, " is not a regular file; using defaults and not saving\n", nullptr},
        {"unreadable", users, 0, " could not be read (Permission denied); using defaults and not saving\n",
         nullptr},
        {"garbage", garbage, 0644, nullptr, nullptr},
        {"a damaged stretch", damaged, 0644, nullptr, "clipboardSyncFolder=Pictures"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(QFileInfo(settingsPath()).path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsPath()).path()));
        if (c.content.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(settingsPath() + "/inside"));
        } else {
            quillary::test::writeFile(settingsPath(), c.content);
            ASSERT_EQ(::chmod(quillary::toNativePath(settingsPath()).constData(), c.mode), 0);
        }
        m_dropOverrides = c.mode == 0 && ::geteuid() == 0;
        if (c.mode == 0 && !permissionBitsCanHold()) {
            std::cout << "skipped: root cannot be held to permission bits here\n";
            continue;
        }
        QByteArray output;
        const std::unique_ptr<QProcess> quillary = startUntilWatching(output);
        ASSERT_TRUE(output.contains(" — access: OK")) << output.toStdString();
        const QString line = c.line
                                 ? QString::fromUtf8(c.line)
                                 : QStringLiteral(" could not be read whole; it was kept as %1 before being "
                                                  "replaced\n")
                                       .arg(copy);
        EXPECT_TRUE(
            QString::fromUtf8(output).contains("⚠️ Quillary: The settings file " + settingsPath() + line))
            << output.toStdString();
        ::kill(static_cast<pid_t>(quillary->processId()), SIGTERM);
        ASSERT_TRUE(quillary->waitForFinished(5000));
        EXPECT_EQ(quillary->exitStatus() == QProcess::NormalExit ? quillary->exitCode() : -1, 0);
        EXPECT_FALSE(output.append(quillary->readAllStandardOutput()).contains("❌")) << output.toStdString();

        EXPECT_EQ(QFileInfo::exists(copy), !c.line);
        if (c.content.isEmpty()) {
            EXPECT_TRUE(QFileInfo::exists(settingsPath() + "/inside"));
        } else if (c.line) {
            ASSERT_EQ(::chmod(quillary::toNativePath(settingsPath()).constData(), 0644), 0);
            EXPECT_EQ(quillary::test::readFile(settingsPath()), c.content) << "the file was written over";
        } else {
            EXPECT_EQ(quillary::test::readFile(copy), c.content);
            const QByteArray rewritten = quillary::test::readFile(settingsPath());
            EXPECT_TRUE(rewritten.contains("savedFolders_v2=")) << "the store is written to again";
            EXPECT_TRUE(!c.keptValue || rewritten.contains(c.keptValue)) << rewritten.toStdString();
        }
    }
}

} // namespace
