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

    // Starts Quillary, waits for its watching line, checks it is still running, then terminates it.
    QString runUntilWatching(const QProcessEnvironment& env)
    {
        QProcess quillary;
        quillary.setProcessEnvironment(env);
        quillary.setProcessChannelMode(QProcess::SeparateChannels);
        quillary.start(QStringLiteral(QUILLARY_BINARY), {});
        EXPECT_TRUE(quillary.waitForStarted(5000));
        QByteArray output;
        // The child's pipe is only read while events are processed.
        quillary::test::waitUntil(
            [&] {
                output += quillary.readAllStandardOutput();
                return output.contains(" — access: ");
            },
            std::chrono::milliseconds(8000));
        QThread::msleep(300);
        EXPECT_EQ(quillary.state(), QProcess::Running) << "Quillary keeps running until terminated";
        ::kill(static_cast<pid_t>(quillary.processId()), SIGTERM);
        EXPECT_TRUE(quillary.waitForFinished(5000));
        output += quillary.readAllStandardOutput();
        return QString::fromUtf8(output);
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

} // namespace
