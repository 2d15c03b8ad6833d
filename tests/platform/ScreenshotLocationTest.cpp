#include "platform/ScreenshotLocation.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace quillary {
namespace {

class ScreenshotLocationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        home = root.path() + QStringLiteral("/home/user");
        ASSERT_TRUE(QDir().mkpath(home));
    }

    QString configHome() const { return home + QStringLiteral("/.config"); }

    // Writes `contents` to `relativePath` under the config folder, making the folders on the way.
    void writeConfig(const QString& relativePath, const QByteArray& contents)
    {
        const QString path = configHome() + u'/' + relativePath;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        test::writeFile(path, contents);
    }

    void removeConfig(const QString& relativePath)
    {
        ASSERT_TRUE(QFile::remove(configHome() + u'/' + relativePath));
    }

    QString folder()
    {
        ScreenshotLocationEnvironment env;
        env.home = home;
        env.configHome = configHome();
        env.currentDesktop = desktop;
        env.gnomeScreenshotAutoSaveDirectory = [this] {
            ++gsettingsRuns;
            return gsettingsOutput;
        };
        return screenshotSaveFolder(env);
    }

    QTemporaryDir root;
    QString home;
    QString desktop = QStringLiteral("KDE");
    std::optional<QString> gsettingsOutput;
    int gsettingsRuns = 0;
};

TEST_F(ScreenshotLocationTest, SourcesAreTakenInOrderAndTheFirstConfiguredWins)
{
    desktop = QStringLiteral("GNOME");
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation=file:///srv/spectacle/\n");
    writeConfig("flameshot/flameshot.ini", "[General]\nsavePath=/srv/flameshot\n");
    writeConfig("xfce4/xfce4-screenshooter", "screenshot_dir=file:///srv/xfce\n");
    writeConfig("ksnip/ksnip.conf", "[Application]\nSaveDirectory=/srv/ksnip\n");
    gsettingsOutput = QStringLiteral("'file:///srv/gnome-screenshot'\n");

    EXPECT_EQ(folder(), "/srv/spectacle");
    EXPECT_EQ(gsettingsRuns, 0) << "gsettings is only asked when no tool's file names a folder";
    removeConfig("spectaclerc");
    EXPECT_EQ(folder(), "/srv/flameshot");
    removeConfig("flameshot/flameshot.ini");
    EXPECT_EQ(folder(), "/srv/xfce");
    removeConfig("xfce4/xfce4-screenshooter");
    EXPECT_EQ(folder(), "/srv/ksnip");
    removeConfig("ksnip/ksnip.conf");
    EXPECT_EQ(folder(), "/srv/gnome-screenshot");
    gsettingsOutput.reset();
    EXPECT_EQ(folder(), home + "/Screenshots");
    desktop = QStringLiteral("KDE");
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, EmptyRelativeOrUnusableValuesAreSkipped)
{
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation=\n[Save]\ndefaultSaveLocation=Pictures\n");
    writeConfig("flameshot/flameshot.ini", "[General]\nsavePath=shots\n");
    writeConfig("xfce4/xfce4-screenshooter", "screenshot_dir=smb://server/share\n");
    writeConfig("ksnip/ksnip.conf", "[Application]\nSaveDirectory=~other/shots\n");
    gsettingsOutput = QStringLiteral("'relative/dir'\n");
    EXPECT_EQ(folder(), home + "/Desktop");

    // A key of the same name in another group, or a translated key, is not the setting; of two, the
    // later one counts.
    writeConfig("ksnip/ksnip.conf", "[Other]\nSaveDirectory=/srv/wrong\n[Application]\n"
                                    "SaveDirectory[de]=/srv/wrong\nSaveDirectory=/srv/first\n"
                                    "SaveDirectory=/srv/right\n");
    EXPECT_EQ(folder(), "/srv/right");
}

TEST_F(ScreenshotLocationTest, SpectacleUrlsAreDecodedAndTheNewKeyWins)
{
    writeConfig("spectaclerc", "[Save]\ndefaultSaveLocation=file:///srv/old/\n"
                               "[ImageSave]\nimageSaveLocation=file:///srv/My%20Sh%C3%B6ts/\n");
    EXPECT_EQ(folder(), QStringLiteral("/srv/My Sh\u00f6ts"));

    writeConfig("spectaclerc", "[Save]\ndefaultSaveLocation=file:///srv/B\xC3\xBClder/Neu Ordner/\n");
    EXPECT_EQ(folder(), QStringLiteral("/srv/B\u00fclder/Neu Ordner"));

    // The new key present but relative: the older one still counts.
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation=file:shots\n"
                               "[Save]\ndefaultSaveLocation=file:///srv/old\n");
    EXPECT_EQ(folder(), "/srv/old");

    // KConfig escapes, and `$HOME` in an entry marked for expansion.
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation[$e]=file://$HOME/Pictures/\\sShots/\n");
    EXPECT_EQ(folder(), home + "/Pictures/ Shots");
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation[$e]=$UNKNOWN/Shots\n"
                               "[Save]\ndefaultSaveLocation=/srv/fallback\n");
    EXPECT_EQ(folder(), "/srv/fallback");
    // Without the marker `$HOME` is literal text, so the path is relative.
    writeConfig("spectaclerc", "[ImageSave]\nimageSaveLocation=$HOME/Shots\n");
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, FlameshotReadsWhatQSettingsWrote)
{
    // Characters QSettings quotes or escapes, and a trailing blank it keeps only inside quotes.
    const QString written = QStringLiteral("~/Sch\u00f6n, \"quoted\"; and\\back ");
    ASSERT_TRUE(QDir().mkpath(configHome() + "/flameshot"));
    {
        QSettings settings(configHome() + "/flameshot/flameshot.ini", QSettings::IniFormat);
        settings.setValue("savePathFixed", true);
        settings.setValue("savePath", written);
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }
    EXPECT_EQ(folder(), home + written.sliced(1));
}

TEST_F(ScreenshotLocationTest, FlameshotHandWrittenValues)
{
    writeConfig("flameshot/flameshot.ini", "[General]\nsavePath=/srv/a,b ; a comment\n");
    EXPECT_EQ(folder(), "/srv/a,b") << "an unquoted comma is kept as written";
    writeConfig("flameshot/flameshot.ini", "[General]\nsavePath=/srv/Sch\\x00f6n\\tTab\n");
    EXPECT_EQ(folder(), QStringLiteral("/srv/Sch\u00f6n\tTab"));
    writeConfig("flameshot/flameshot.ini", "[General]\r\nsavePath = ~\r\n");
    EXPECT_EQ(folder(), home);
    writeConfig("flameshot/flameshot.ini", "[General]\nsavePath=@Invalid()\n");
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, XfceKeyCountsOnlyBeforeAnyGroup)
{
    writeConfig("xfce4/xfce4-screenshooter", "screenshot_dir=file:///srv/Bildschirm%20Fotos\n"
                                             "[Other]\nscreenshot_dir=file:///srv/wrong\n");
    EXPECT_EQ(folder(), "/srv/Bildschirm Fotos");
    writeConfig("xfce4/xfce4-screenshooter", "[Group]\nscreenshot_dir=file:///srv/wrong\n");
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, GnomeScreenshotSetting)
{
    gsettingsOutput = QStringLiteral("'file:///x/y'\n");
    EXPECT_EQ(folder(), "/x/y");
    gsettingsOutput = QStringLiteral("'~/Shots'\n");
    EXPECT_EQ(folder(), home + "/Shots");
    gsettingsOutput = QStringLiteral("'/srv/plain dir'\n");
    EXPECT_EQ(folder(), "/srv/plain dir");
    gsettingsOutput = QStringLiteral("\"/srv/it's\"\n");
    EXPECT_EQ(folder(), "/srv/it's");
    gsettingsOutput = QStringLiteral("'/srv/caf\\u00e9 \\'x\\''\n");
    EXPECT_EQ(folder(), QStringLiteral("/srv/caf\u00e9 'x'"));
    gsettingsOutput = QStringLiteral("@ms '/srv/maybe'\n");
    EXPECT_EQ(folder(), "/srv/maybe");

    for (const QString& unset : {QStringLiteral("''\n"), QStringLiteral("@ms nothing\n"), QString()}) {
        gsettingsOutput = unset;
        EXPECT_EQ(folder(), home + "/Desktop") << unset.toStdString();
    }
    gsettingsOutput.reset();
    EXPECT_EQ(folder(), home + "/Desktop");

    // No runner at all behaves as gsettings missing.
    ScreenshotLocationEnvironment env{home, configHome(), QStringLiteral("XFCE"), {}};
    EXPECT_EQ(screenshotSaveFolder(env), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, GnomeSessionUsesPicturesAndTheTranslatedFolderOnDisk)
{
    desktop = QStringLiteral("ubuntu:GNOME");
    EXPECT_EQ(folder(), home + "/Screenshots") << "no user-dirs.dirs: the home itself";

    writeConfig("user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                  "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(folder(), home + "/Bilder/Screenshots") << "nothing on disk: the English name";

    ASSERT_TRUE(QDir().mkpath(home + "/Bilder/Screenshots"));
    ASSERT_TRUE(QDir().mkpath(home + "/Bilder/Bildschirmfotos"));
    EXPECT_EQ(folder(), home + "/Bilder/Bildschirmfotos");

    // A decomposed name on disk still matches, and is returned as it is on disk.
    const QString decomposed =
        QStringLiteral("Captures d\u2019\u00e9cran").normalized(QString::NormalizationForm_D);
    writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Images\"\n");
    ASSERT_TRUE(QDir().mkpath(home + "/Images/" + decomposed));
    EXPECT_EQ(folder(), home + "/Images/" + decomposed);

    desktop = QStringLiteral("gnome-flashback:gnome");
    writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=\"/srv/Fotos\\\"x\"\n");
    EXPECT_EQ(folder(), "/srv/Fotos\"x/Screenshots");

    for (const QByteArray& homeItself :
         {QByteArray("XDG_PICTURES_DIR=\"$HOME/\"\n"), QByteArray("XDG_PICTURES_DIR=\"$HOME\"\n"),
          QByteArray("XDG_PICTURES_DIR=Pictures\n")}) {
        writeConfig("user-dirs.dirs", homeItself);
        EXPECT_EQ(folder(), home + "/Screenshots") << homeItself.toStdString();
    }

    desktop = QStringLiteral("KDE");
    writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, ConfigHomeFallsBackToDotConfigWhenUnusable)
{
    writeConfig("ksnip/ksnip.conf", "[Application]\nSaveDirectory=/srv/ksnip\n");
    for (const QString& configHomeValue : {QString(), QStringLiteral("relative/config")}) {
        ScreenshotLocationEnvironment env{home, configHomeValue, QStringLiteral("KDE"), {}};
        EXPECT_EQ(screenshotSaveFolder(env), "/srv/ksnip");
    }
    ScreenshotLocationEnvironment elsewhere{home, root.path() + "/elsewhere", QStringLiteral("KDE"), {}};
    EXPECT_EQ(screenshotSaveFolder(elsewhere), home + "/Desktop");
}

// Puts an executable `gsettings` with `script` as its body first on PATH while it lives.
class FakeGsettings final {
public:
    explicit FakeGsettings(const QByteArray& script)
        : m_savedPath(qgetenv("PATH"))
    {
        const QString program = m_dir.path() + QStringLiteral("/gsettings");
        test::writeFile(program, "#!/bin/sh\n" + script);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_dir.path()) + ':' + m_savedPath);
    }
    ~FakeGsettings() { qputenv("PATH", m_savedPath); }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
};

TEST(ScreenshotLocationEnvironmentTest, GsettingsRunnerPassesTheKeyAndGivesUpOnFailure)
{
    const auto run = [] {
        return ScreenshotLocationEnvironment::fromProcess().gnomeScreenshotAutoSaveDirectory();
    };
    {
        const FakeGsettings fake("printf \"'%s|%s|%s'\\n\" \"$@\"\n");
        EXPECT_EQ(run(), QStringLiteral("'get|org.gnome.gnome-screenshot|auto-save-directory'\n"));
    }
    {
        const FakeGsettings fake("echo \"No such schema\" >&2\nexit 1\n");
        EXPECT_EQ(run(), std::nullopt);
    }
    {
        const FakeGsettings fake("exec sleep 30\n");
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(run(), std::nullopt);
        EXPECT_LT(timer.elapsed(), 5000);
    }
}

TEST(ScreenshotLocationEnvironmentTest, FromProcessReadsTheEnvironment)
{
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    const bool hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const bool hadDesktop = qEnvironmentVariableIsSet("XDG_CURRENT_DESKTOP");

    qputenv("HOME", "/srv/someone");
    qputenv("XDG_CURRENT_DESKTOP", "X-Cinnamon");
    qputenv("XDG_CONFIG_HOME", "relative");
    const ScreenshotLocationEnvironment relative = ScreenshotLocationEnvironment::fromProcess();
    qputenv("XDG_CONFIG_HOME", "/srv/config");
    const ScreenshotLocationEnvironment absolute = ScreenshotLocationEnvironment::fromProcess();

    qputenv("HOME", savedHome);
    hadConfig ? qputenv("XDG_CONFIG_HOME", savedConfig) : qunsetenv("XDG_CONFIG_HOME");
    hadDesktop ? qputenv("XDG_CURRENT_DESKTOP", savedDesktop) : qunsetenv("XDG_CURRENT_DESKTOP");

    EXPECT_EQ(relative.home, "/srv/someone");
    EXPECT_EQ(relative.configHome, "/srv/someone/.config");
    EXPECT_EQ(relative.currentDesktop, "X-Cinnamon");
    EXPECT_EQ(absolute.configHome, "/srv/config");
    EXPECT_TRUE(absolute.gnomeScreenshotAutoSaveDirectory);
}

} // namespace
} // namespace quillary
