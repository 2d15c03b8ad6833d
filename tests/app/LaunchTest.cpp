// The real binary in a throw-away HOME, without a display: it must find the screenshot folder,
// say what it watches, and keep running until it is terminated.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <utility>

namespace {

class LaunchTest : public ::testing::Test {
protected:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        return env;
    }

    // Starts Quillary and waits for its watching line; `output` collects its standard output.
    std::unique_ptr<QProcess> startUntilWatching(const QProcessEnvironment& env, QByteArray& output)
    {
        auto quillary = std::make_unique<QProcess>();
        quillary->setProcessEnvironment(env);
        quillary->setProcessChannelMode(QProcess::SeparateChannels);
        // A shell without job control starts background jobs ignoring SIGINT; the test sends it.
        quillary->setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
        quillary->start(QStringLiteral(QUILLARY_BINARY), {});
        EXPECT_TRUE(quillary->waitForStarted(5000));
        // The child's pipe is only read while events are processed.
        quillary::test::waitUntil(
            [&] {
                output += quillary->readAllStandardOutput();
                return output.contains(" — access: ");
            },
            std::chrono::milliseconds(8000));
        return quillary;
    }

    // Starts Quillary, waits for its watching line, checks it is still running, then terminates it.
    QString runUntilWatching(const QProcessEnvironment& env)
    {
        QByteArray output;
        const std::unique_ptr<QProcess> quillary = startUntilWatching(env, output);
        QThread::msleep(300);
        EXPECT_EQ(quillary->state(), QProcess::Running) << "Quillary keeps running until terminated";
        quillary->terminate(); // SIGTERM, and only while it runs (kill(0, …) would hit this test too)
        EXPECT_TRUE(quillary->waitForFinished(5000));
        output += quillary->readAllStandardOutput();
        return QString::fromUtf8(output);
    }

    // A launch while another runs: returns its exit code and standard output.
    std::pair<int, QString> launchAgain(const QStringList& arguments)
    {
        QProcess launch;
        launch.setProcessEnvironment(environment());
        launch.start(QStringLiteral(QUILLARY_BINARY), arguments);
        EXPECT_TRUE(launch.waitForFinished(8000)) << arguments.join(u' ').toStdString();
        return {launch.exitStatus() == QProcess::NormalExit ? launch.exitCode() : -1,
                QString::fromUtf8(launch.readAllStandardOutput())};
    }

    QTemporaryDir home;
};

TEST_F(LaunchTest, WithoutConfigurationItWatchesTheHomeDesktopHeadless)
{
    const QString output = runUntilWatching(environment());
    EXPECT_TRUE(output.contains(u"⚠️ Quillary: No display server")) << output.toStdString();
    EXPECT_TRUE(output.contains(u"📍 Quillary: Watching Desktop...\n")) << output.toStdString();
    EXPECT_TRUE(
        output.contains(QStringLiteral("📍 Quillary: Watching %1/Desktop — access: OK ✅\n").arg(home.path())))
        << output.toStdString();

    // The first launch leaves the four standard folders stored, with Desktop's record selected.
    const QSettings settings(home.filePath(QStringLiteral(".config/Quillary/Quillary.conf")),
                             QSettings::IniFormat);
    const QJsonArray folders =
        QJsonDocument::fromJson(settings.value(QStringLiteral("savedFolders_v2")).toString().toUtf8())
            .array();
    QStringList names;
    QString desktopID;
    for (const QJsonValue& folder : folders) {
        names << folder[QStringLiteral("name")].toString();
        if (names.last() == u"Desktop")
            desktopID = folder[QStringLiteral("id")].toString();
    }
    EXPECT_EQ(names, (QStringList{"Desktop", "Documents", "Downloads", "Pictures"}));
    EXPECT_FALSE(desktopID.isEmpty());
    EXPECT_EQ(settings.value(QStringLiteral("selectedFolderID")).toString(), desktopID);
}

TEST_F(LaunchTest, ItWatchesWhereTheScreenshotToolSaves)
{
    const QString spectacleFolder = home.filePath(QStringLiteral("Spectacle Shots"));
    QDir().mkpath(home.filePath(QStringLiteral(".config")));
    quillary::test::writeFile(
        home.filePath(QStringLiteral(".config/spectaclerc")),
        "[ImageSave]\nimageSaveLocation=" + QUrl::fromLocalFile(spectacleFolder).toEncoded() + "\n");
    const QString output = runUntilWatching(environment());
    EXPECT_TRUE(
        output.contains(QStringLiteral("📍 Quillary: Watching %1 — access: OK ✅").arg(spectacleFolder)))
        << output.toStdString();
    EXPECT_TRUE(QFileInfo(spectacleFolder).isDir()) << "the tool's folder is created for the watch";
}

TEST_F(LaunchTest, OnGnomeItWatchesTheLocalisedScreenshotsFolder)
{
    QDir().mkpath(home.filePath(QStringLiteral(".config")));
    QDir().mkpath(home.filePath(QStringLiteral("Bilder/Bildschirmfotos")));
    quillary::test::writeFile(home.filePath(QStringLiteral(".config/user-dirs.dirs")),
                              "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("ubuntu:GNOME"));
    const QString output = runUntilWatching(env);
    EXPECT_TRUE(output.contains(
        QStringLiteral("📍 Quillary: Watching %1/Bilder/Bildschirmfotos — access: OK ✅").arg(home.path())))
        << output.toStdString();
}

TEST_F(LaunchTest, ALaterLaunchHandsItsRequestToTheRunningOne)
{
    QByteArray output;
    const std::unique_ptr<QProcess> first = startUntilWatching(environment(), output);

    const auto [code, text] = launchAgain({});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(text.endsWith(u"📍 Quillary: Already running; asked it to show itself\n"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(u" — access: ")) << "the later launch watches nothing";
    EXPECT_EQ(first->state(), QProcess::Running);

    EXPECT_EQ(launchAgain({QStringLiteral("--pause")}).first, 0);
    EXPECT_TRUE(quillary::test::readFile(home.filePath(QStringLiteral(".config/Quillary/Quillary.conf")))
                    .contains("isPaused=true"));

    EXPECT_EQ(launchAgain({QStringLiteral("--quit")}).first, 0);
    EXPECT_TRUE(first->waitForFinished(8000));
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);

    const auto [quitCode, quitText] = launchAgain({QStringLiteral("--quit")});
    EXPECT_EQ(quitCode, 0);
    EXPECT_TRUE(quitText.endsWith(u"📍 Quillary: Not running; nothing to quit\n")) << quitText.toStdString();
}

TEST_F(LaunchTest, ALockLeftByAKilledInstanceDoesNotBlockTheNextStart)
{
    QByteArray output;
    const std::unique_ptr<QProcess> first = startUntilWatching(environment(), output);
    first->kill();
    ASSERT_TRUE(first->waitForFinished(5000));
    EXPECT_TRUE(runUntilWatching(environment()).contains(u" — access: OK"));
}

TEST_F(LaunchTest, TerminationSignalsQuitCleanly)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QByteArray output;
        const std::unique_ptr<QProcess> quillary = startUntilWatching(environment(), output);
        quillary::test::processEventsFor(std::chrono::milliseconds(300));
        quillary->readAllStandardError(); // what start-up said
        ASSERT_GT(quillary->processId(), 0) << "kill(0, …) would hit this test too";
        ::kill(static_cast<pid_t>(quillary->processId()), signal);
        ASSERT_TRUE(quillary->waitForFinished(5000)) << signal;
        EXPECT_EQ(quillary->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(quillary->exitCode(), 0) << signal;
        const QString after = QString::fromUtf8(quillary->readAllStandardOutput());
        EXPECT_FALSE(after.contains(u"⚠️") || after.contains(u"❌")) << after.toStdString();
        EXPECT_EQ(quillary->readAllStandardError(), "") << signal;
    }
}

TEST_F(LaunchTest, ASettingsPathThatIsNotARegularFileDoesNotHangTheStart)
{
    const QString settings = home.filePath(QStringLiteral(".config/Quillary/Quillary.conf"));
    QDir().mkpath(home.filePath(QStringLiteral(".config/Quillary")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(settings).constData(), 0600), 0);
    const QString output = runUntilWatching(environment());
    EXPECT_TRUE(output.contains(
        QStringLiteral(
            "⚠️ Quillary: The settings file %1 is not a regular file; using defaults and not saving\n")
            .arg(settings)))
        << output.toStdString();
    EXPECT_TRUE(output.contains(u" — access: OK")) << output.toStdString();
    EXPECT_FALSE(QFileInfo(settings).isFile()) << "nothing was saved over the FIFO";
}

} // namespace
