#include "platform/ScreenshotLocation.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

namespace quillary {
namespace {

const char* const kSpectacle = "spectaclerc";
const char* const kFlameshot = "flameshot/flameshot.ini";
const char* const kXfce = "xfce4/xfce4-screenshooter";
const char* const kKsnip = "ksnip/ksnip.conf";
const char* const kGsettings = nullptr; // the case is gsettings' output

class ScreenshotLocationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(configHome)); }

    // `~` at the start stands for the home.
    QString inHome(const QString& path) const { return path.startsWith(u'~') ? home + path.sliced(1) : path; }

    void writeConfig(const QString& relativePath, const QByteArray& contents)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(configHome + u'/' + relativePath).path()));
        test::writeFile(configHome + u'/' + relativePath, contents);
    }

    QString folder()
    {
        return screenshotSaveFolder({home, configHome, desktop, [this] {
                                         ++gsettingsRuns;
                                         return gsettingsOutput;
                                     }});
    }

    QTemporaryDir root;
    QString home = root.path() + "/home/user";
    QString configHome = home + "/.config";
    QString desktop = "KDE";
    std::optional<QString> gsettingsOutput;
    int gsettingsRuns = 0;
};

TEST_F(ScreenshotLocationTest, TheFirstConfiguredSourceInOrderWins)
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
        ASSERT_TRUE(QFile::remove(configHome + '/' + file));
    }
    EXPECT_EQ(gsettingsRuns, 0) << "gsettings is only asked when no tool's file names a folder";
    EXPECT_EQ(folder(), "/srv/gnome-screenshot");
    gsettingsOutput.reset();
    EXPECT_EQ(folder(), home + "/Screenshots");
    desktop = "KDE";
    EXPECT_EQ(folder(), home + "/Desktop");
}

// Each source on its own, read the way that tool writes it; unusable values fall through to the
// default (~/Desktop off GNOME).
TEST_F(ScreenshotLocationTest, ReadsEachSourcesSetting)
{
    const QByteArray imageSave = "[ImageSave]\nimageSaveLocation", save = "[Save]\ndefaultSaveLocation";
    const std::tuple<const char*, QByteArray, QString> cases[] = {
        // Spectacle 6's key over the old one; percent-encoded URLs; KConfig escapes and [$e] expansion.
        {kSpectacle, save + "=/old\n" + imageSave + "=file:///S%C3%B6/\n", "/S\u00f6"},
        {kSpectacle, imageSave + "=file:shots\n" + save + "=file:///old\n", "/old"},
        {kSpectacle, imageSave + "[$e]=file://$HOME/Pictures/\\sShots/\n", "~/Pictures/ Shots"},
        {kSpectacle, imageSave + "[$e]=$UNKNOWN/Shots\n" + save + "=/old\n", "/old"},
        {kSpectacle, imageSave + "=$HOME/Shots\n", "~/Desktop"},
        // QSettings' quoting and escapes; an unquoted comma stays as written.
        {kFlameshot, "[General]\nsavePath=/a,b ; a comment\n", "/a,b"},
        {kFlameshot, "[General]\nsavePath=/Sch\\x00f6n\\tTab\n", "/Sch\u00f6n\tTab"},
        {kFlameshot, "[General]\r\nsavePath = ~\r\n", "~"},
        {kFlameshot, "[General]\nsavePath=@Invalid()\n", "~/Desktop"},
        // xfce4-screenshooter's key stands before any group.
        {kXfce, "screenshot_dir=file:///Bild%20Fotos\n[Other]\nscreenshot_dir=file:///wrong\n",
         "/Bild Fotos"},
        {kXfce, "[Group]\nscreenshot_dir=file:///wrong\n", "~/Desktop"},
        // Another group or a translated key is not the setting; of two, the later one counts.
        {kKsnip,
         "[A]\nSaveDirectory=/a\n[Application]\nSaveDirectory[de]=/de\nSaveDirectory=/b\nSaveDirectory=/c\n",
         "/c"},
        {kKsnip, "[Application]\nSaveDirectory=~other/shots\n", "~/Desktop"},
        // gsettings prints a GVariant string.
        {kGsettings, "'file:///x/y'\n", "/x/y"},
        {kGsettings, "'~/Shots'\n", "~/Shots"},
        {kGsettings, "\"/it's\"\n", "/it's"},
        {kGsettings, "'/caf\\u00e9 \\'x\\''\n", "/caf\u00e9 'x'"},
        {kGsettings, "@ms '/maybe'\n", "/maybe"},
        {kGsettings, "''\n", "~/Desktop"},
        {kGsettings, "@ms nothing\n", "~/Desktop"},
    };
    for (const auto& [file, contents, expected] : cases) {
        if (file)
            writeConfig(file, contents);
        gsettingsOutput = file ? std::nullopt : std::optional(QString::fromUtf8(contents));
        EXPECT_EQ(folder(), inHome(expected)) << contents.toStdString();
        if (file)
            QFile::remove(configHome + '/' + file);
    }
}

TEST_F(ScreenshotLocationTest, FlameshotReadsWhatQSettingsWrote)
{
    // Characters QSettings quotes or escapes, and a trailing blank it keeps only inside quotes.
    const QString written = "~/Sch\u00f6n, \"quoted\"; and\\back ";
    QSettings settings(configHome + '/' + kFlameshot, QSettings::IniFormat);
    settings.setValue("savePathFixed", true);
    settings.setValue("savePath", written);
    settings.sync();
    ASSERT_EQ(settings.status(), QSettings::NoError);
    EXPECT_EQ(folder(), inHome(written));
}

TEST_F(ScreenshotLocationTest, GnomeSessionUsesTheScreenshotsFolderInPictures)
{
    desktop = "ubuntu:GNOME";
    EXPECT_EQ(folder(), home + "/Screenshots") << "no user-dirs.dirs: the home itself";
    writeConfig("user-dirs.dirs",
                "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(folder(), home + "/Bilder/Screenshots") << "nothing on disk: the English name";
    ASSERT_TRUE(QDir().mkpath(home + "/Bilder/Screenshots") &&
                QDir().mkpath(home + "/Bilder/Bildschirmfotos"));
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
}

TEST_F(ScreenshotLocationTest, ConfigHomeFallsBackToDotConfigWhenUnusable)
{
    writeConfig(kKsnip, "[Application]\nSaveDirectory=/srv/ksnip\n");
    for (const QString unusable : {"", "relative/config"})
        EXPECT_EQ(screenshotSaveFolder({home, unusable, "KDE", {}}), "/srv/ksnip");
    EXPECT_EQ(screenshotSaveFolder({home, root.path() + "/elsewhere", "KDE", {}}), home + "/Desktop");
}

// The runner asks gsettings for the key and gives up on an error or when it hangs (the two-second
// limit; the hung one would print nothing and succeed after 30 s).
TEST(ScreenshotLocationEnvironmentTest, GsettingsRunnerReadsTheKeyOrGivesNothing)
{
    const QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    const auto run = [&](const QByteArray& script) {
        test::writeFile(bin.filePath("gsettings"), "#!/bin/sh\n" + script);
        QFile::setPermissions(bin.filePath("gsettings"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return ScreenshotLocationEnvironment::fromProcess().gnomeScreenshotAutoSaveDirectory();
    };
    EXPECT_EQ(run("printf \"'%s|%s|%s'\\n\" \"$@\"\n"),
              "'get|org.gnome.gnome-screenshot|auto-save-directory'\n");
    EXPECT_EQ(run("echo \"No such schema\" >&2\nexit 1\n"), std::nullopt);
    EXPECT_EQ(run("exec sleep 30\n"), std::nullopt);
}

} // namespace
} // namespace quillary
