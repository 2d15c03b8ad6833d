#include "platform/ScreenshotLocation.h"
#include "platform/linux/ConfigFileText.h"

#include "core/FileNames.h"
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

    ScreenshotLocationEnvironment env()
    {
        return {home, configHome, desktop, kdeSessionVersion, [this] {
                    ++gsettingsRuns;
                    return gsettingsOutput;
                }};
    }
    QString folder() { return screenshotSaveFolder(env()); }

    QTemporaryDir root;
    QString home = root.path() + "/home/user";
    QString configHome = home + "/.config";
    QString desktop = "XFCE";
    QString kdeSessionVersion;
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
        EXPECT_EQ(screenshotSaveFolder({home, unusable, "XFCE", {}, {}}),
                  unusable == root.path() ? home + "/Desktop" : "/srv/spectacle");
    gsettingsOutput = "'file:///srv/gnome-screenshot'\n";
    for (const auto& [file, contents, expected] : sources) {
        EXPECT_EQ(folder(), expected);
        ASSERT_TRUE(QFile::remove(configHome + '/' + file));
    }
    EXPECT_EQ(gsettingsRuns, 0) << "gsettings is only asked when no tool's file names a folder";
    EXPECT_EQ(folder(), "/srv/gnome-screenshot");
}

// Each source as its tool writes it; unusable values fall through. No file: gsettings' output.
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
        {nullptr, "'/\\ufeffBOM'\n", "/\ufeffBOM"},
        {nullptr, "'/\\U0001f4f7'\n", "/\U0001f4f7"},
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

// A leading "@" QSettings doubles, inside quotes when it quotes; any other is a serialised type.
TEST_F(ScreenshotLocationTest, QSettingsValuesReadBackAsWritten)
{
    const QString path = configHome + "/written.ini";
    for (const QString written : {"plain", " spaced ", "@at", "@@twice", "@at; with \"quotes\", commas",
                                  "\u00a0no-break\u2003spaces\u00a0"}) {
        QFile::remove(path);
        QSettings(path, QSettings::IniFormat).setValue("value", written);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray line = file.readAll().split('\n').value(1);
        ASSERT_TRUE(line.startsWith("value=")) << line.toStdString();
        EXPECT_EQ(configtext::qsettingsText(line.sliced(6)), std::optional(written)) << line.toStdString();
    }
    EXPECT_EQ(configtext::qsettingsText("@Variant(\\0\\0)"), std::nullopt);
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

    // Escapes undone and bytes that are not UTF-8 kept; a relative path or a line cut short before
    // its closing quote is unusable, and the home itself stands in.
    desktop = "gnome-flashback:gnome";
    const std::pair<QByteArray, QString> pictures[] = {
        {"\"/srv/Fotos\\\"x\"", "/srv/Fotos\"x"},
        {"\"/srv/Fotos\xe4\"", fromNativePath("/srv/Fotos\xe4")},
        {"\"$HOME/\"", home},
        {"\"$HOME\"", home},
        {"Pictures", home},
        {"\"/srv/Fotos", home},
    };
    for (const auto& [value, expected] : pictures) {
        writeConfig("user-dirs.dirs", "XDG_PICTURES_DIR=" + value + "\n");
        EXPECT_EQ(folder(), expected + "/Screenshots") << value.toStdString();
    }
    // Only spaces and tabs may stand around the name and the "=", as the shell and GLib read it.
    writeConfig("user-dirs.dirs", "\t XDG_PICTURES_DIR \t= \"/srv/A\"\n\fXDG_PICTURES_DIR=\"/srv/B\"\n");
    EXPECT_EQ(folder(), "/srv/A/Screenshots");
}

// With no tool's location: Spectacle's own folder on KDE (by Plasma version), else the Desktop.
TEST_F(ScreenshotLocationTest, WithoutASavedLocationKdeUsesSpectaclesDefaultAndOthersTheDesktop)
{
    // Of two lines for one folder, the later one counts.
    const QByteArray german = "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                              "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    const std::tuple<QString, QString, QByteArray, QString> cases[] = {
        // XDG_CURRENT_DESKTOP, KDE_SESSION_VERSION, user-dirs.dirs, folder
        {"KDE", "5", german, "~/Bilder"},
        {"KDE", "6", german, "~/Bilder/Screenshots"},
        {"X-Custom:kde", "7", german, "~/Bilder/Screenshots"},
        {"KDE", "", {}, "~/Pictures"},
        {"KDE", "6", {}, "~/Pictures/Screenshots"},
        {"KDEX", "6", german, "~/Schreibtisch"},
        {"XFCE", "6", german, "~/Schreibtisch"},
        {"", "", {}, "~/Desktop"},
    };
    for (const QByteArray& spectaclerc :
         {QByteArray(), QByteArray("[General]\nclipboardGroup=PostScreenshotCopyImage\n")}) {
        if (!spectaclerc.isEmpty())
            writeConfig(kSpectacle, spectaclerc);
        for (const auto& [session, version, userDirs, expected] : cases) {
            desktop = session;
            kdeSessionVersion = version;
            QFile::remove(configHome + "/user-dirs.dirs");
            if (!userDirs.isEmpty())
                writeConfig("user-dirs.dirs", userDirs);
            EXPECT_EQ(folder(), inHome(expected)) << session.toStdString() << ' ' << version.toStdString();
        }
    }
}

// Flameshot's and ksnip's names count in their own folder (also through a link) and no other.
TEST_F(ScreenshotLocationTest, ToolNamesCountInTheToolsOwnFolderOnly)
{
    writeConfig(kFlameshot, "[General]\nsavePath=/srv/flame/\n");
    writeConfig(kKsnip, "[Application]\nSaveDirectory=~/ksnip\nSaveFilename=Shot-$Y_##\n");
    ASSERT_TRUE(QDir().mkpath(home + "/ksnip") && QFile::link(home + "/ksnip", home + "/link"));
    const auto matches = [&](const QString& folder, const QString& name) {
        return screenshotToolNames(folder, env()).matches(name);
    };
    EXPECT_TRUE(matches("/srv/flame", "2026-12-06_10-00.png"));
    EXPECT_FALSE(matches("/srv/flame", "Shot-2026_07.png"));
    EXPECT_TRUE(matches(home + "/ksnip/", "Shot-2026_07.png"));
    EXPECT_TRUE(matches(home + "/link", "Shot-2026_07.png"));
    EXPECT_FALSE(matches(home + "/ksnip", "ksnip_20261206-100000.png")) << "the set pattern, not the default";
    EXPECT_FALSE(matches(home + "/ksnip", "2026-12-06_10-00.png"));
    EXPECT_TRUE(screenshotToolNames(home, env()).patterns.isEmpty());

    writeConfig(kFlameshot, "[General]\nsavePath=~/ksnip\nfilenamePattern=\"shot %T\"\n");
    EXPECT_TRUE(matches(home + "/ksnip", "shot 10-00-59.png"));
    EXPECT_TRUE(matches(home + "/ksnip", "Shot-2026_07.png"));
    EXPECT_FALSE(matches("/srv/flame", "shot 10-00-59.png"));
}

// Flameshot turns ':' and '/' into other characters and adds "_N" to a name taken; ksnip adds "(N)",
// and a counter of at least as many digits as '#'s in place of everything from the first to the last.
TEST(ScreenshotToolNamesTest, PatternsBecomeTheNamesTheToolMakes)
{
    const QString flameshotDefault = "%F_%H-%M", ksnipDefault = "ksnip_$Y$M$D-$T";
    const std::tuple<QRegularExpression (*)(const QString&), QString, const char*, bool> cases[] = {
        {flameshotFileNames, flameshotDefault, "2026-12-06_10-00.png", true},
        {flameshotFileNames, "", "2026-12-06_10-00_12.png", true},
        {flameshotFileNames, flameshotDefault, "2026-12-06_10-00.jpg", false},
        {flameshotFileNames, flameshotDefault, "x2026-12-06_10-00.png", false},
        {flameshotFileNames, flameshotDefault, "2026-12-6_10-00.png", false},
        {flameshotFileNames, flameshotDefault, "2026-12-06_10-00_.png", false},
        {flameshotFileNames, "Shot.%T [%a] %D 100%", "Shot.10-00-59 [Sa.] 12\u204406\u204426 100%.png", true},
        {flameshotFileNames, "Shot.%T [%a] %D 100%", "Shot.10-00-59 [] 12\u204406\u204426 100%.png", false},
        {flameshotFileNames, "Shot.%T [%a] %D 100%", "ShotA10-00-59 [Sa] 12\u204406\u204426 100%.png", false},
        {flameshotFileNames, "Shot.%T [%a] %D 100%", "Shot.10:00:59 [Sa] 12\u204406\u204426 100%.png", false},
        {flameshotFileNames, "a/b:c %j%e", "a\u2044b-c 340 6.png", true},
        // A conversion strftime does not know comes out as written, line breaks included.
        {flameshotFileNames, "a%\nb", "a%\nb.png", true},
        {flameshotFileNames, "a%\r%qb", "a%\r%qb.png", true},
        {flameshotFileNames, "100%%", "100%.png", true},
        {flameshotFileNames, "100%%", "100x.png", false},
        {flameshotFileNames, "%a%b%c", "abc.png", true},
        {flameshotFileNames, "%a%b%c", "ab.png", false},
        // Characters beyond the BMP, after a `%` too, stay whole.
        {flameshotFileNames, "\U0001F4F7%\U0001F4F7%H", "\U0001F4F7%\U0001F4F707.png", true},
        {flameshotFileNames, "\U0001F4F7%\U0001F4F7%H", "\U0001F4F7%\U0001F4F7x.png", false},
        {ksnipFileNames, ksnipDefault, "ksnip_20261206-100059.png", true},
        {ksnipFileNames, "", "ksnip_20261206-100059(2).png", true},
        {ksnipFileNames, ksnipDefault, "ksnip_2026126-100059.png", false},
        {ksnipFileNames, "$h.$m.$s_###[$X]", "10.00.59_007[anything].png", true},
        {ksnipFileNames, "$h.$m.$s_###[$X]", "10.00.59_1234[x].png", true},
        {ksnipFileNames, "$h.$m.$s_###[$X]", "10.00.59_07[x].png", false},
        {ksnipFileNames, "$h.$m.$s_###[$X]", "10a00.59_007[x].png", false},
        {ksnipFileNames, "a#b#c$", "a00c$.png", true},
        {ksnipFileNames, "a#b#c$", "a0b0c$.png", false},
        {ksnipFileNames, "$h$X", "07\nx.png", true},
        {ksnipFileNames, "\U0001F4F7$h#\U0001F4F7", "\U0001F4F707123\U0001F4F7.png", true},
    };
    for (const auto& [convert, pattern, name, expected] : cases)
        EXPECT_EQ(convert(pattern).match(QString::fromUtf8(name)).hasMatch(), expected)
            << pattern.toStdString() << " / " << name;

    // Many fields of any text in a row still match in one pass, and a name that cannot match fails
    // fast rather than running into the matcher's limit.
    const QString manyFields = QString("%a").repeated(40) + "!";
    EXPECT_TRUE(flameshotFileNames(manyFields).match(QString(60, u'a') + "!.png").hasMatch());
    EXPECT_FALSE(flameshotFileNames(manyFields).match(QString(60, u'a') + "?.png").hasMatch());
    EXPECT_TRUE(ksnipFileNames(QString("$X").repeated(40)).match(QString(60, u'a') + ".png").hasMatch());
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
