// The real binary in a throw-away HOME, without a display: it must find the screenshot folder, say
// what it watches, hand later launches over to the running one, end cleanly when asked, and finish
// what a killed rename run left half done.
#include "core/FileNames.h"
#include "core/Preferences.h"
#include "folders/FolderStore.h"
#include "handle/RetroRenamer.h"
#include "imaging/ImageLimits.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <linux/capability.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

class LaunchTest : public ::testing::Test {
protected:
    static bool isChild() { return qEnvironmentVariableIsSet("QUILLARY_RENAME_CHILD"); }
    // Only the test itself has a HOME to make: a child, killed, could not remove one.
    void SetUp() override
    {
        if (!isChild())
            m_home.emplace();
    }
    const QTemporaryDir& home() const { return *m_home; }
    QString settingsPath() const { return home().filePath(QStringLiteral(".config/Quillary/Quillary.conf")); }
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
        test::waitUntil( // the child's pipe is only read while events are processed
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
        env.insert(QStringLiteral("HOME"), home().path());
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home().path());
        return env;
    }

    // Sends `signal` to Quillary, which must end with status 0 and say nothing went wrong; returns what
    // it printed meanwhile.
    QString stop(QProcess& quillary, int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(quillary.processId()), signal); // its own: not kill(0, …)
        EXPECT_TRUE(quillary.waitForFinished(5000)) << signal;
        EXPECT_EQ(quillary.exitStatus() == QProcess::NormalExit ? quillary.exitCode() : -1, 0) << signal;
        const QString after = QString::fromUtf8(quillary.readAllStandardOutput());
        EXPECT_FALSE(after.contains(u"❌")) << after.toStdString();
        return after;
    }

    std::optional<QTemporaryDir> m_home;
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

// Without configuration it watches ~/Desktop headless and stores the four standard folders; a later
// launch hands its request to it instead of starting a second one.
TEST_F(LaunchTest, AFirstLaunchWatchesTheDesktopAndLaterOnesHandOverTheirRequests)
{
    QByteArray output;
    const std::unique_ptr<QProcess> first = startUntilWatching(output);
    for (const QString& line :
         {QStringLiteral("⚠️ Quillary: No display server"),
          QStringLiteral("📍 Quillary: Watching Desktop...\n"),
          QStringLiteral("📍 Quillary: Watching %1/Desktop — access: OK ✅\n").arg(home().path())})
        EXPECT_TRUE(QString::fromUtf8(output).contains(line)) << output.toStdString();
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const QJsonArray folders =
        QJsonDocument::fromJson(settings.value("savedFolders_v2").toString().toUtf8()).array();
    QStringList names;
    for (const QJsonValue& folder : folders)
        names << folder["name"].toString();
    EXPECT_EQ(names, (QStringList{"Desktop", "Documents", "Downloads", "Pictures"}));

    const auto [code, text] = launch({});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(text.endsWith(u"📍 Quillary: Already running; asked it to show itself\n"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(u" — access: ")) << "the later launch watches nothing";
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
    ASSERT_EQ(::mkfifo(toNativePath(settingsPath()).constData(), 0600), 0);
    QByteArray output;
    const std::unique_ptr<QProcess> killed = startUntilWatching(output);
    killed->kill();
    ASSERT_TRUE(killed->waitForFinished(5000));
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        output.clear();
        const std::unique_ptr<QProcess> quillary = startUntilWatching(output);
        ASSERT_EQ(quillary->state(), QProcess::Running) << signal;
        EXPECT_TRUE(output.contains("⚠️ Quillary: The settings file " + toNativePath(settingsPath()) +
                                    " is not a regular file; using defaults and not saving\n"))
            << output.toStdString();
        EXPECT_TRUE(launch({QStringLiteral("--resume")}).second.endsWith(u"Already running; resumed it\n"));
        quillary->readAllStandardError(); // what start-up said
        EXPECT_FALSE(stop(*quillary, signal).contains(u"⚠️"));
        EXPECT_EQ(quillary->readAllStandardError(), "") << signal;
    }
    EXPECT_FALSE(QFileInfo(settingsPath()).isFile()) << "something was saved over the FIFO";
}

// A settings file that cannot be used is never lost: Quillary starts on what it can read, says what
// it could not, and either leaves the file alone or keeps a copy before its first write replaces it.
// (A settings path that is no regular file: TerminationSignalsQuitCleanly.)
TEST_F(LaunchTest, AnUnusableSettingsFileIsReportedAndNeverLost)
{
    const QByteArray users = "[General]\nautoMove=true\nclipboardSyncFolder=Pictures\n";
    const QByteArray garbage = test::tinyPng();
    const QByteArray damaged = users + QByteArray(64, '\0') + "\n[Gen\nisPaused=true\n";
    const QString copy = settingsPath() + ".unreadable";
    struct Case {
        const char* what;
        QByteArray content;
        mode_t mode;
        const char* line;      // what Quillary says after "The settings file PATH"; null: it kept a copy
        const char* keptValue; // a value of the user's file still in use (read back from the file)
    };
    const Case cases[] = {
        {"unreadable", users, 0, " could not be read (Permission denied); using defaults and not saving\n",
         nullptr},
        {"garbage", garbage, 0644, nullptr, nullptr},
        {"a damaged stretch", damaged, 0644, nullptr, "clipboardSyncFolder=Pictures"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(QFileInfo(settingsPath()).path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsPath()).path()));
        test::writeFile(settingsPath(), c.content);
        ASSERT_EQ(::chmod(toNativePath(settingsPath()).constData(), c.mode), 0);
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
        EXPECT_FALSE(output.contains("❌")) << output.toStdString();
        stop(*quillary);

        EXPECT_EQ(QFileInfo::exists(copy), !c.line);
        if (c.line) {
            ASSERT_EQ(::chmod(toNativePath(settingsPath()).constData(), 0644), 0);
            EXPECT_EQ(test::readFile(settingsPath()), c.content) << "the file was written over";
        } else {
            EXPECT_EQ(test::readFile(copy), c.content);
            const QByteArray rewritten = test::readFile(settingsPath());
            EXPECT_TRUE(rewritten.contains("savedFolders_v2=")) << "the store is written to again";
            EXPECT_TRUE(!c.keptValue || rewritten.contains(c.keptValue)) << rewritten.toStdString();
        }
    }
}

// Renaming a folder of 300 screenshots to a new prefix and format, killed with SIGKILL at random
// moments and at exact system calls: a child process runs the RetroRenamer as the settings window's
// Done starts it; then the real binary starts there, as at the next login.
constexpr int kFiles = 300;
const char kFolderID[] = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

// A screenshot that carries its number in its width, which conversion keeps.
QByteArray numberedShot(int number)
{
    return test::encoded(test::pattern(QImage::Format_RGB32, 100 + number, 300), "PNG");
}

// The number a decoded screenshot carries, or 0 when it does not decode whole.
int numberOf(const QByteArray& file)
{
    const std::optional<QImage> image = decodeCompleteImage(file);
    return image ? image->width() - 100 : 0;
}

class InterruptedRenameTest : public LaunchTest {
protected:
    QString folder() const { return home().filePath("Pictures/Filed"); }

    // A child of this test that renames the folder's files, as the running application would; with
    // `killAt` ("renameat2" or "unlink" and a count), strace kills it as it makes that call.
    void startRenamer(QProcess& child, const QString& killAt = {}) const
    {
        QProcessEnvironment env = environment();
        env.insert("QUILLARY_RENAME_CHILD", "1");
        child.setProcessEnvironment(env);
        QStringList arguments{QCoreApplication::applicationFilePath(),
                              "--gtest_filter=InterruptedRenameTest.*"};
        if (!killAt.isEmpty()) {
            const QString call = killAt.section(' ', 0, 0);
            arguments = QStringList{"-f", "-qq",
                                    "-o", "/dev/null",
                                    "-e", "trace=" + call,
                                    "-e", "inject=" + call + ":signal=KILL:when=" + killAt.section(' ', 1)} +
                        arguments;
        }
        child.start(killAt.isEmpty() ? arguments.takeFirst() : QStringLiteral("strace"), arguments);
        ASSERT_TRUE(child.waitForStarted());
    }

    // What the folder holds: each number with where it is ("png" for its untouched original, "jpg" for
    // a whole converted copy), and every entry that is neither.
    struct Contents {
        std::map<int, QStringList> numbers;
        QStringList temporary;
        QStringList strays;
    };
    Contents contents() const
    {
        Contents found;
        const QDir dir(folder());
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            const QByteArray bytes = test::readFile(dir.filePath(name));
            const int number = name.startsWith("Renamed_") ? numberOf(bytes) : name.mid(5, 3).toInt();
            if (name.startsWith('.') && name.contains(".quillary-"))
                found.temporary << name;
            else if (name.startsWith("Quil_") && name.endsWith(".png") && bytes == m_originals.value(number))
                found.numbers[number] << "png";
            else if (name.startsWith("Renamed_") && name.endsWith(".jpg") && number > 0)
                found.numbers[number] << "jpg";
            else
                found.strays << name;
        }
        return found;
    }

    // Every number is there once, or one at most twice as `twice` says; returns how many are there twice.
    static int expectEveryNumber(const Contents& found, const QString& twice)
    {
        EXPECT_EQ(found.strays, QStringList());
        int doubled = 0;
        for (int number = 1; number <= kFiles; ++number) {
            const QStringList places = found.numbers.count(number) ? found.numbers.at(number) : QStringList();
            EXPECT_FALSE(places.isEmpty()) << "lost: " << number;
            if (places.size() > 1) {
                ++doubled;
                EXPECT_EQ(places.join(' '), twice) << number << ": " << places.join(' ').toStdString();
            }
        }
        EXPECT_EQ(found.numbers.size(), std::size_t(kFiles));
        EXPECT_LE(doubled, 1);
        return doubled;
    }

    QHash<int, QByteArray> m_originals;
};

TEST_F(InterruptedRenameTest, KilledAtRandomMomentsEveryFileIsThereOnceAndWhole)
{
    if (isChild()) {
        Preferences store(QDir::home().filePath(".config/Quillary/Quillary.conf"));
        FolderStore folders(store);
        RetroRenamer renamer;
        renamer.start({{QUuid::fromString(QString(kFolderID)), "Renamed", false, "jpg"}}, folders.folders());
        renamer.waitForDone();
        _exit(0);
    }
    ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsPath()).path()));
    test::writeFile(settingsPath(),
                    QByteArray("[General]\nsavedFolders_v2=\"[{\\\"id\\\":\\\"") + kFolderID +
                        "\\\",\\\"name\\\":\\\"Filed\\\",\\\"path\\\":\\\"Pictures/Filed\\\",\\\"icon\\\":"
                        "\\\"folder\\\",\\\"isRenamingEnabled\\\":true,\\\"prefix\\\":\\\"Renamed\\\","
                        "\\\"includeDate\\\":false,\\\"fileFormat\\\":\\\"jpg\\\"}]\"\n");
    for (int number = 1; number <= kFiles; ++number)
        m_originals.insert(number, numberedShot(number));

    // Each round starts from the 300 originals and is killed: a random few milliseconds in; once a random
    // share is renamed, up to 20 ms later; and, where strace can, just before the k-th file is placed
    // ("renameat2") or the k-th original removed ("unlink").
    const bool precise = QProcess::execute("strace", {"-f", "-qq", "-o", "/dev/null", "true"}) == 0;
    if (!precise)
        std::cout << "strace cannot run here: every round is killed at a random moment\n";
    QRandomGenerator random(QRandomGenerator::global()->generate());
    const QString kills[] = {"early", "afterSome", precise ? "renameat2" : "afterSome",
                             precise ? "unlink" : "afterSome"};
    for (std::size_t round = 0; round < std::size(kills); ++round) {
        const QString& kill = kills[round];
        const bool atCall = kill == "renameat2" || kill == "unlink";
        const int k = random.bounded(1, kFiles * 3 / 4);
        SCOPED_TRACE(QString("%1, k = %2").arg(kill).arg(k).toStdString());
        ASSERT_TRUE(QDir(folder()).removeRecursively() && QDir().mkpath(folder()));
        for (int number = 1; number <= kFiles; ++number)
            test::writeFile(QDir(folder()).filePath(QString("Quil_%1.png").arg(number, 3, 10, QChar('0'))),
                            m_originals.value(number));

        QProcess child;
        const auto renamed = [&] { return int(QDir(folder()).entryList({"Renamed_*.jpg"}).size()); };
        startRenamer(child, atCall ? kill + ' ' + QString::number(k) : QString());
        if (kill == "early")
            QThread::msleep(random.bounded(5, 200));
        if (kill == "afterSome") {
            ASSERT_TRUE(test::waitUntil([&] { return renamed() >= k; }, 60s));
            QThread::usleep(random.bounded(20'000)); // anywhere in the steps of the next file
        }
        if (!atCall)
            ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(60'000));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the run ended before it was killed";
        const int doubled = expectEveryNumber(contents(), "png jpg");
        if (atCall) { // killed before the k-th original went, once the k-th file was placed
            EXPECT_EQ(renamed(), kill == "unlink" ? k : k - 1);
            EXPECT_EQ(doubled, kill == "unlink" ? 1 : 0);
        }

        // The next start of Quillary removes what the killed run left half done, and nothing else.
        QByteArray output;
        const std::unique_ptr<QProcess> quillary = startUntilWatching(output);
        ASSERT_TRUE(output.contains(" — access: OK")) << output.toStdString();
        const Contents afterStart = contents();
        EXPECT_EQ(afterStart.temporary, QStringList());
        expectEveryNumber(afterStart, "png jpg");
        stop(*quillary);

        if (round + 1 < std::size(kills))
            continue;
        // Run again to its end, the last one renames the rest: no original is left.
        QProcess rerun;
        startRenamer(rerun);
        ASSERT_TRUE(rerun.waitForFinished(120'000));
        const Contents done = contents();
        EXPECT_TRUE(std::all_of(done.numbers.begin(), done.numbers.end(),
                                [](const auto& entry) { return !entry.second.contains("png"); }));
        EXPECT_EQ(done.temporary, QStringList());
        expectEveryNumber(done, "jpg jpg");
    }
}

} // namespace
