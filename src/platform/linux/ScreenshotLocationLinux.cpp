#include "platform/ScreenshotLocation.h"

#include "core/FileNames.h"
#include "platform/UserDirectories.h"
#include "platform/linux/ConfigFileText.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QStringView>
#include <QUrl>

#include <algorithm>
#include <array>
#include <chrono>

#include <sys/stat.h>

namespace quillary {
namespace {

using namespace configtext;

constexpr std::chrono::milliseconds kGsettingsTimeout{2000};

// GNOME's name for its screenshot folder in the languages we know. The English name is not in the
// list: it is what is used when none of these is on disk.
constexpr std::array kTranslatedScreenshotsNames{
    QStringView(u"Bildschirmfotos"),
    QStringView(u"Captures d\u2019écran"),
    QStringView(u"Capturas de pantalla"),
    QStringView(u"Captures de pantalla"),
    QStringView(u"Capturas de tela"),
    QStringView(u"Capturas de ecrã"),
    QStringView(u"Schermafbeeldingen"),
    QStringView(u"Istantanee"),
    QStringView(u"Zrzuty ekranu"),
    QStringView(u"Snímky obrazovky"),
    QStringView(u"Képernyőképek"),
    QStringView(u"Capturi de ecran"),
    QStringView(u"Skärmbilder"),
    QStringView(u"Skjermbilder"),
    QStringView(u"Skærmbilleder"),
    QStringView(u"Kuvakaappaukset"),
    QStringView(u"Ekran görüntüleri"),
    QStringView(u"Στιγμιότυπα οθόνης"),
    QStringView(u"Снимки экрана"),
    QStringView(u"Знімки екрана"),
    QStringView(u"スクリーンショット"),
    QStringView(u"스크린샷"),
    QStringView(u"截图"),
};

QString joinedPath(const QString& folder, const QString& name)
{
    return QDir::cleanPath(folder + u'/' + name);
}

std::optional<QString> spectacleFolder(const QString& configHome, const QString& home)
{
    const auto contents = readFile(configHome + QStringLiteral("/spectaclerc"));
    if (!contents)
        return std::nullopt;
    // Spectacle 6 moved the setting; a file may still carry the older one as well.
    for (const auto& [group, key] :
         {std::pair{"ImageSave", "imageSaveLocation"}, std::pair{"Save", "defaultSaveLocation"}}) {
        if (const auto entry = findEntry(*contents, group, key)) {
            if (auto folder = absoluteFolder(kconfigText(*entry, home), home))
                return folder;
        }
    }
    return std::nullopt;
}

// Flameshot and ksnip keep their settings through QSettings: where they save, and the pattern of
// the names they save under.
struct QSettingsTool {
    const char* file; // under the config home
    const char* group;
    const char* folderKey;
    const char* namePatternKey;
    QRegularExpression (*fileNames)(const QString& pattern);
};

constexpr QSettingsTool kFlameshot{"/flameshot/flameshot.ini", "General", "savePath", "filenamePattern",
                                   &flameshotFileNames};
constexpr QSettingsTool kKsnip{"/ksnip/ksnip.conf", "Application", "SaveDirectory", "SaveFilename",
                               &ksnipFileNames};

std::optional<QString> qsettingsValue(const QByteArray& contents, const char* group, const char* key)
{
    const auto entry = findEntry(contents, group, key);
    return entry ? qsettingsText(entry->value) : std::nullopt;
}

std::optional<QString> qsettingsFolder(const QSettingsTool& tool, const QString& configHome,
                                       const QString& home)
{
    const auto contents = readFile(configHome + QString::fromLatin1(tool.file));
    if (!contents)
        return std::nullopt;
    return absoluteFolder(qsettingsValue(*contents, tool.group, tool.folderKey), home);
}

std::optional<QString> xfceScreenshooterFolder(const QString& configHome, const QString& home)
{
    const auto contents = readFile(configHome + QStringLiteral("/xfce4/xfce4-screenshooter"));
    if (!contents)
        return std::nullopt;
    const auto entry = findEntry(*contents, "", "screenshot_dir");
    if (!entry)
        return std::nullopt;
    return absoluteFolder(QString::fromUtf8(entry->value), home);
}

std::optional<QString> gnomeScreenshotFolder(const ScreenshotLocationEnvironment& env, const QString& home)
{
    if (!env.gnomeScreenshotAutoSaveDirectory)
        return std::nullopt;
    const auto printed = env.gnomeScreenshotAutoSaveDirectory();
    if (!printed)
        return std::nullopt;
    return absoluteFolder(gvariantText(*printed), home);
}

// A translation found on disk can only come from a GNOME session in that language, while other
// tools also make "Screenshots"; so a translation wins when both exist.
QString screenshotsFolderName(const QString& pictures)
{
    const QStringList entries = QDir(pictures).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QStringView name : kTranslatedScreenshotsNames) {
        for (const QString& entry : entries) {
            if (entry.normalized(QString::NormalizationForm_C) == name)
                return entry;
        }
    }
    return QStringLiteral("Screenshots");
}

std::optional<QString> runGsettings()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("get"), QStringLiteral("org.gnome.gnome-screenshot"),
                          QStringLiteral("auto-save-directory")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const QDeadlineTimer deadline(kGsettingsTimeout);
    process.start();
    if (!process.waitForStarted(static_cast<int>(deadline.remainingTime())) ||
        !process.waitForFinished(static_cast<int>(deadline.remainingTime()))) {
        process.kill();
        process.waitForFinished(500);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

struct UsableFolders {
    QString home;
    QString configHome;
};

UsableFolders usableFolders(const ScreenshotLocationEnvironment& env)
{
    // Without a usable home, Qt's own answer is the root.
    const QString home = env.home.startsWith(u'/') ? QDir::cleanPath(env.home) : QDir::rootPath();
    return {home, env.configHome.startsWith(u'/') ? QDir::cleanPath(env.configHome)
                                                  : joinedPath(home, QStringLiteral(".config"))};
}

// Whether the colon-separated $XDG_CURRENT_DESKTOP names `desktop`, in any case.
bool namesDesktop(const QString& currentDesktops, QStringView desktop)
{
    const QStringList names = currentDesktops.split(u':');
    return std::any_of(names.cbegin(), names.cend(),
                       [&](const QString& name) { return name.compare(desktop, Qt::CaseInsensitive) == 0; });
}

// The same folder, also when one of the paths leads to it through a symbolic link.
bool isSameFolder(const QString& a, const QString& b)
{
    if (QDir::cleanPath(a) == QDir::cleanPath(b))
        return true;
    struct stat first {};
    struct stat second {};
    return ::stat(toNativePath(a).constData(), &first) == 0 &&
           ::stat(toNativePath(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace

ScreenshotLocationEnvironment ScreenshotLocationEnvironment::fromProcess()
{
    ScreenshotLocationEnvironment env;
    env.home = QDir::homePath();
    env.configHome = sessionConfigHome(env.home);
    env.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    env.kdeSessionVersion = qEnvironmentVariable("KDE_SESSION_VERSION");
    env.gnomeScreenshotAutoSaveDirectory = runGsettings;
    return env;
}

QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env)
{
    const auto [home, configHome] = usableFolders(env);
    if (auto folder = spectacleFolder(configHome, home))
        return *folder;
    if (auto folder = qsettingsFolder(kFlameshot, configHome, home))
        return *folder;
    if (auto folder = xfceScreenshooterFolder(configHome, home))
        return *folder;
    if (auto folder = qsettingsFolder(kKsnip, configHome, home))
        return *folder;
    if (auto folder = gnomeScreenshotFolder(env, home))
        return *folder;
    if (env.currentDesktop.contains(u"GNOME", Qt::CaseInsensitive)) {
        // GNOME Shell saves into the home itself when the session names no Pictures folder.
        const QString pictures = namedUserDirectory(UserDirectory::pictures, home, configHome).value_or(home);
        return joinedPath(pictures, screenshotsFolderName(pictures));
    }
    if (namesDesktop(env.currentDesktop, u"KDE")) {
        // Spectacle without a saved location: Pictures, and from Plasma 6 on Pictures/Screenshots.
        const QString pictures = userDirectory(UserDirectory::pictures, home, configHome);
        return env.kdeSessionVersion.toInt() >= 6 ? joinedPath(pictures, QStringLiteral("Screenshots"))
                                                  : pictures;
    }
    return userDirectory(UserDirectory::desktop, home, configHome);
}

ScreenshotToolNames screenshotToolNames(const QString& folder, const ScreenshotLocationEnvironment& env)
{
    const auto [home, configHome] = usableFolders(env);
    ScreenshotToolNames names;
    for (const QSettingsTool* tool : {&kFlameshot, &kKsnip}) {
        const auto contents = readFile(configHome + QString::fromLatin1(tool->file));
        if (!contents)
            continue;
        const auto toolFolder = absoluteFolder(qsettingsValue(*contents, tool->group, tool->folderKey), home);
        if (toolFolder && isSameFolder(*toolFolder, folder))
            names.patterns.append(tool->fileNames(
                qsettingsValue(*contents, tool->group, tool->namePatternKey).value_or(QString())));
    }
    return names;
}

} // namespace quillary
