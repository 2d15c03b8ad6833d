#include "platform/ScreenshotLocation.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

using namespace quillary;

namespace {

const char* const kSpectacle = "spectaclerc";
const char* const kFlameshot = "flameshot/flameshot.ini";
const char* const kXfce = "xfce4/xfce4-screenshooter";
const char* const kKsnip = "ksnip/ksnip.conf";

class ScreenshotLocationTest : public ::testing::Test {
protected:
    QString inHome(const QString& path) const { return path.startsWith(u'~') ? home + path.sliced(1) : path; }

    void writeConfig(const QString& file, const QByteArray& contents)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(configHome + u'/' + file).path()));
        test::writeFile(configHome + u'/' + file, contents);
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
    const std::tuple<const char*, QByteArray, QString> sources[] = {
        {kSpectacle, "[ImageSave]\nimageSaveLocation=file:///srv/spectacle/\n", "/srv/spectacle"},
        {kFlameshot, "[General]\nsavePath=/srv/flameshot\n", "/srv/flameshot"},
        {kXfce, "screenshot_dir=file:///srv/xfce\n", "/srv/xfce"},
        {kKsnip, "[Application]\nSaveDirectory=/srv/ksnip\n", "/srv/ksnip"},
    };
    for (const auto& [file, contents, expected] : sources)
        writeConfig(file, contents);
    // An unset or relative config home stands for ~/.config (another one is used as it is).
    for (const QString& unusable : {QString(), QString("relative/config"), root.path()})
        EXPECT_EQ(screenshotSaveFolder({home, unusable, "KDE", {}}),
                  unusable == root.path() ? home + "/Desktop" : "/srv/spectacle");
    gsettingsOutput = "'file:///srv/gnome-screenshot'\n";
    for (const auto& [file, contents, expected] : sources) {
        EXPECT_EQ(folder(), expected);
        ASSERT_TRUE(QFile::remove(configHome + '/' + file));
    }
    EXPECT_EQ(gsettingsRuns, 0) << "gsettings is only asked when no tool's file names a folder";
    EXPECT_EQ(folder(), "/srv/gnome-screenshot");
}

// Each source on its own, read the way that tool writes it; unusable values fall through to the
// default (~/Desktop off GNOME). A null file: the case is gsettings' output (a GVariant string).
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
        {kFlameshot, "[General]\nsavePath=/a,b ; a comment\n", "/a,b"},
        {kFlameshot, "[General]\nsavePath=/Sch\\x00f6n\\tTab\n", "/Sch\u00f6n\tTab"},
        {kFlameshot, "[General]\r\nsavePath = ~\r\n", "~"},
        {kFlameshot, "[General]\nsavePath=@Invalid()\n", "~/Desktop"},
        {kXfce, "screenshot_dir=file:///Bild%20Fotos\n[Other]\nscreenshot_dir=/x\n", "/Bild Fotos"},
        {kXfce, "[Group]\nscreenshot_dir=file:///wrong\n", "~/Desktop"},
        // Another group or a translated key is not the setting; of two, the later one counts.
        {kKsnip,
         "[A]\nSaveDirectory=/a\n[Application]\nSaveDirectory[de]=/de\nSaveDirectory=/b\nSaveDirectory=/c\n",
         "/c"},
        {kKsnip, "[Application]\nSaveDirectory=~other/shots\n", "~/Desktop"},
        {nullptr, "'file:///x/y'\n", "/x/y"},
        {nullptr, "'~/Shots'\n", "~/Shots"},
        {nullptr, "\"/it's\"\n", "/it's"},
        {nullptr, "'/caf\\u00e9 \\'x\\''\n", "/caf\u00e9 'x'"},
        {nullptr, "@ms '/maybe'\n", "/maybe"},
        {nullptr, "''\n", "~/Desktop"},
        {nullptr, "@ms nothing\n", "~/Desktop"},
    };
    for (const auto& [file, contents, expected] : cases) {
        if (file)
            writeConfig(file, contents);
        gsettingsOutput = file ? std::nullopt : std::optional(QString::fromUtf8(contents));
        EXPECT_EQ(folder(), inHome(expected)) << contents.toStdString();
        if (file)
            QFile::remove(configHome + '/' + file);
    }
    // Characters QSettings quotes or escapes; its top-level keys are the [General] group.
    const QString written = "~/Sch\u00f6n, \"quoted\"; and\\back ";
    QSettings(configHome + '/' + kFlameshot, QSettings::IniFormat).setValue("savePath", written);
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

// The runner asks gsettings for the key, and gives up on an error or after two seconds.
TEST(ScreenshotLocationEnvironmentTest, GsettingsRunnerReadsTheKeyOrGivesNothing)
{
    const QTemporaryDir bin;
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
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
