#include "platform/ScreenshotLocation.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

namespace quillary {
namespace {

// Sets an environment variable until the returned guard goes away.
auto scopedEnv(const char* name, const QByteArray& value)
{
    const auto saved = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qputenv(name, value);
    return qScopeGuard([=] { saved ? qputenv(name, *saved) : qunsetenv(name); });
}

const char* const kSpectacle = "spectaclerc";
const char* const kFlameshot = "flameshot/flameshot.ini";
const char* const kXfce = "xfce4/xfce4-screenshooter";
const char* const kKsnip = "ksnip/ksnip.conf";

class ScreenshotLocationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir().mkpath(home));
    }

    QString configHome() const { return home + "/.config"; }
    // `~` at the start stands for the home.
    QString inHome(const QString& path) const { return path.startsWith(u'~') ? home + path.sliced(1) : path; }

    void writeConfig(const QString& relativePath, const QByteArray& contents)
    {
        const QString path = configHome() + u'/' + relativePath;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        test::writeFile(path, contents);
    }

    QString folder()
    {
        ScreenshotLocationEnvironment env{home, configHome(), desktop, [this] {
                                              ++gsettingsRuns;
                                              return gsettingsOutput;
                                          }};
        return screenshotSaveFolder(env);
    }

    QTemporaryDir root;
    QString home = root.path() + "/home/user";
    QString desktop = "KDE";
    std::optional<QString> gsettingsOutput;
    int gsettingsRuns = 0;
};

TEST_F(ScreenshotLocationTest, SourcesAreTakenInOrderAndTheFirstConfiguredWins)
{
    desktop = "GNOME";
    const std::tuple<const char*, QByteArray, QString> sources[] = {
        {kSpectacle, "[ImageSave]\nimageSaveLocation=file:///srv/spectacle/\n", "/srv/spectacle"},
        {kFlameshot, "[General]\nsavePath=/srv/flameshot\n", "/srv/flameshot"},
        {kXfce, "screenshot_dir=file:///srv/xfce\n", "/srv/xfce"},
        {kKsnip, "[Application]\nSaveDirectory=/srv/ksnip\n", "/srv/ksnip"},
    };
    for (const auto& [file, contents, expected] : sources)
        writeConfig(file, contents);
    gsettingsOutput = "'file:///srv/gnome-screenshot'\n";
    for (const auto& [file, contents, expected] : sources) {
        EXPECT_EQ(folder(), expected);
        ASSERT_TRUE(QFile::remove(configHome() + '/' + file));
    }
    EXPECT_EQ(gsettingsRuns, 0) << "gsettings is only asked when no tool's file names a folder";
    EXPECT_EQ(folder(), "/srv/gnome-screenshot");
    gsettingsOutput.reset();
    EXPECT_EQ(folder(), home + "/Screenshots");
    desktop = "KDE";
    EXPECT_EQ(folder(), home + "/Desktop");
}

// Each tool's file on its own, read the way that tool writes it; unusable values fall through to
// the default (~/Desktop off GNOME).
TEST_F(ScreenshotLocationTest, ReadsEachToolsSetting)
{
    const std::tuple<const char*, QByteArray, QString> cases[] = {
        // Spectacle 6's key over the old one; percent-encoded URLs; KConfig escapes and [$e] expansion.
        {kSpectacle,
         "[Save]\ndefaultSaveLocation=file:///srv/old/\n[ImageSave]\nimageSaveLocation=file:///srv/"
         "My%20Sh%C3%B6ts/\n",
         "/srv/My Sh\u00f6ts"},
        {kSpectacle, "[Save]\ndefaultSaveLocation=file:///srv/B\xC3\xBClder/Neu Ordner/\n",
         "/srv/B\u00fclder/Neu Ordner"},
        {kSpectacle,
         "[ImageSave]\nimageSaveLocation=file:shots\n[Save]\ndefaultSaveLocation=file:///srv/old\n",
         "/srv/old"},
        {kSpectacle, "[ImageSave]\nimageSaveLocation[$e]=file://$HOME/Pictures/\\sShots/\n",
         "~/Pictures/ Shots"},
        {kSpectacle,
         "[ImageSave]\nimageSaveLocation[$e]=$UNKNOWN/Shots\n[Save]\ndefaultSaveLocation=/srv/fallback\n",
         "/srv/fallback"},
        {kSpectacle, "[ImageSave]\nimageSaveLocation=$HOME/Shots\n", "~/Desktop"},
        {kSpectacle, "[ImageSave]\nimageSaveLocation=\n[Save]\ndefaultSaveLocation=Pictures\n", "~/Desktop"},
        // QSettings' quoting and escapes; an unquoted comma stays as written.
        {kFlameshot, "[General]\nsavePath=/srv/a,b ; a comment\n", "/srv/a,b"},
        {kFlameshot, "[General]\nsavePath=/srv/Sch\\x00f6n\\tTab\n", "/srv/Sch\u00f6n\tTab"},
        {kFlameshot, "[General]\r\nsavePath = ~\r\n", "~"},
        {kFlameshot, "[General]\nsavePath=@Invalid()\n", "~/Desktop"},
        // xfce4-screenshooter's key stands before any group.
        {kXfce, "screenshot_dir=file:///srv/Bildschirm%20Fotos\n[Other]\nscreenshot_dir=file:///srv/wrong\n",
         "/srv/Bildschirm Fotos"},
        {kXfce, "[Group]\nscreenshot_dir=file:///srv/wrong\n", "~/Desktop"},
        // Another group or a translated key is not the setting; of two, the later one counts.
        {kKsnip,
         "[Other]\nSaveDirectory=/srv/wrong\n[Application]\nSaveDirectory[de]=/srv/wrong\n"
         "SaveDirectory=/srv/first\nSaveDirectory=/srv/right\n",
         "/srv/right"},
        {kKsnip, "[Application]\nSaveDirectory=~other/shots\n", "~/Desktop"},
    };
    for (const auto& [file, contents, expected] : cases) {
        writeConfig(file, contents);
        EXPECT_EQ(folder(), inHome(expected)) << contents.toStdString();
        ASSERT_TRUE(QFile::remove(configHome() + '/' + file));
    }
}

TEST_F(ScreenshotLocationTest, FlameshotReadsWhatQSettingsWrote)
{
    // Characters QSettings quotes or escapes, and a trailing blank it keeps only inside quotes.
    const QString written = "~/Sch\u00f6n, \"quoted\"; and\\back ";
    QSettings settings(configHome() + '/' + kFlameshot, QSettings::IniFormat);
    settings.setValue("savePathFixed", true);
    settings.setValue("savePath", written);
    settings.sync();
    ASSERT_EQ(settings.status(), QSettings::NoError);
    EXPECT_EQ(folder(), inHome(written));
}

TEST_F(ScreenshotLocationTest, GnomeScreenshotSettingAbsentSetOrEmpty)
{
    const std::pair<std::optional<QString>, QString> cases[] = {
        {"'file:///x/y'\n", "/x/y"},          {"'~/Shots'\n", "~/Shots"},
        {"\"/srv/it's\"\n", "/srv/it's"},     {"'/srv/caf\\u00e9 \\'x\\''\n", "/srv/caf\u00e9 'x'"},
        {"@ms '/srv/maybe'\n", "/srv/maybe"}, {"''\n", "~/Desktop"},
        {"@ms nothing\n", "~/Desktop"},       {"", "~/Desktop"},
        {std::nullopt, "~/Desktop"},
    };
    for (const auto& [output, expected] : cases) {
        gsettingsOutput = output;
        EXPECT_EQ(folder(), inHome(expected)) << output.value_or("(absent)").toStdString();
    }
    EXPECT_EQ(screenshotSaveFolder({home, configHome(), "XFCE", {}}), home + "/Desktop") << "no runner";
}

TEST_F(ScreenshotLocationTest, GnomeSessionUsesPicturesAndTheTranslatedFolderOnDisk)
{
    desktop = "ubuntu:GNOME";
    EXPECT_EQ(folder(), home + "/Screenshots") << "no user-dirs.dirs: the home itself";
    writeConfig("user-dirs.dirs",
                "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(folder(), home + "/Bilder/Screenshots") << "nothing on disk: the English name";
    ASSERT_TRUE(QDir().mkpath(home + "/Bilder/Screenshots"));
    ASSERT_TRUE(QDir().mkpath(home + "/Bilder/Bildschirmfotos"));
    EXPECT_EQ(folder(), home + "/Bilder/Bildschirmfotos");

    // A decomposed name on disk still matches, and is returned as it is on disk.
    const QString decomposed = QString("Captures d\u2019\u00e9cran").normalized(QString::NormalizationForm_D);
    writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Images\"\n");
    ASSERT_TRUE(QDir().mkpath(home + "/Images/" + decomposed));
    EXPECT_EQ(folder(), home + "/Images/" + decomposed);

    desktop = "gnome-flashback:gnome";
    writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=\"/srv/Fotos\\\"x\"\n");
    EXPECT_EQ(folder(), "/srv/Fotos\"x/Screenshots");
    for (const QByteArray value : {"\"$HOME/\"", "\"$HOME\"", "Pictures"}) {
        writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=" + value + "\n");
        EXPECT_EQ(folder(), home + "/Screenshots") << value.toStdString();
    }
    desktop = "KDE";
    EXPECT_EQ(folder(), home + "/Desktop");
}

TEST_F(ScreenshotLocationTest, ConfigHomeFallsBackToDotConfigWhenUnusable)
{
    writeConfig(kKsnip, "[Application]\nSaveDirectory=/srv/ksnip\n");
    EXPECT_EQ(screenshotSaveFolder({home, "", "KDE", {}}), "/srv/ksnip");
    EXPECT_EQ(screenshotSaveFolder({home, "relative/config", "KDE", {}}), "/srv/ksnip");
    EXPECT_EQ(screenshotSaveFolder({home, root.path() + "/elsewhere", "KDE", {}}), home + "/Desktop");
}

TEST(ScreenshotLocationEnvironmentTest, GsettingsRunnerPassesTheKeyAndGivesUpOnFailure)
{
    const QTemporaryDir bin;
    const auto path = scopedEnv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
    const auto run = [&](const QByteArray& script) {
        test::writeFile(bin.filePath("gsettings"), "#!/bin/sh\n" + script);
        QFile::setPermissions(bin.filePath("gsettings"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return ScreenshotLocationEnvironment::fromProcess().gnomeScreenshotAutoSaveDirectory();
    };
    EXPECT_EQ(run("printf \"'%s|%s|%s'\\n\" \"$@\"\n"),
              "'get|org.gnome.gnome-screenshot|auto-save-directory'\n");
    EXPECT_EQ(run("echo \"No such schema\" >&2\nexit 1\n"), std::nullopt);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(run("exec sleep 30\n"), std::nullopt);
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(ScreenshotLocationEnvironmentTest, FromProcessReadsTheEnvironment)
{
    const auto home = scopedEnv("HOME", "/srv/someone");
    const auto desktop = scopedEnv("XDG_CURRENT_DESKTOP", "X-Cinnamon");
    {
        const auto config = scopedEnv("XDG_CONFIG_HOME", "relative");
        const auto env = ScreenshotLocationEnvironment::fromProcess();
        EXPECT_EQ(env.home, "/srv/someone");
        EXPECT_EQ(env.configHome, "/srv/someone/.config");
        EXPECT_EQ(env.currentDesktop, "X-Cinnamon");
    }
    const auto config = scopedEnv("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(ScreenshotLocationEnvironment::fromProcess().configHome, "/srv/config");
}

} // namespace
} // namespace quillary
