#include "platform/ScreenshotLocation.h"

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

#include <array>
#include <chrono>

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

// Flameshot and ksnip keep their settings through QSettings.
std::optional<QString> qsettingsFolder(const QString& file, QByteArrayView group, QByteArrayView key,
                                       const QString& home)
{
    const auto contents = readFile(file);
    if (!contents)
        return std::nullopt;
    const auto entry = findEntry(*contents, group, key);
    if (!entry)
        return std::nullopt;
    return absoluteFolder(qsettingsText(entry->value), home);
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

// XDG_PICTURES_DIR read the way GLib reads it: `"$HOME/…"` or `"/…"`, backslash escapes, the last
// usable line wins. Missing, or naming the home itself, gives the home: GNOME then saves there.
QString picturesFolder(const QString& configHome, const QString& home)
{
    const auto contents = readFile(configHome + QStringLiteral("/user-dirs.dirs"));
    if (!contents)
        return home;
    QString folder = home;
    static const QByteArray key = QByteArrayLiteral("XDG_PICTURES_DIR");
    for (const QByteArray& rawLine : contents->split('\n')) {
        QByteArray line = rawLine.trimmed();
        if (!line.startsWith(key))
            continue;
        line = line.sliced(key.size()).trimmed();
        if (!line.startsWith('='))
            continue;
        line = line.sliced(1).trimmed();
        if (!line.startsWith('"'))
            continue;
        line = line.sliced(1);
        const bool inHome = line.startsWith("$HOME");
        if (inHome) {
            line = line.sliced(5);
            if (line.startsWith('/'))
                line = line.sliced(1);
            else if (!line.startsWith('"'))
                continue;
        } else if (!line.startsWith('/')) {
            continue;
        }
        QByteArray value;
        for (qsizetype i = 0; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            value += line[i];
        }
        const QString path = QString::fromUtf8(value);
        folder = inHome ? joinedPath(home, path) : QDir::cleanPath(path);
    }
    return folder;
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

} // namespace

ScreenshotLocationEnvironment ScreenshotLocationEnvironment::fromProcess()
{
    ScreenshotLocationEnvironment env;
    env.home = QDir::homePath();
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    env.configHome = configHome.startsWith(u'/') ? configHome : env.home + QStringLiteral("/.config");
    env.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    env.gnomeScreenshotAutoSaveDirectory = runGsettings;
    return env;
}

QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env)
{
    // Without a usable home, Qt's own answer is the root.
    const QString home = env.home.startsWith(u'/') ? QDir::cleanPath(env.home) : QDir::rootPath();
    const QString configHome = env.configHome.startsWith(u'/') ? QDir::cleanPath(env.configHome)
                                                               : joinedPath(home, QStringLiteral(".config"));

    if (auto folder = spectacleFolder(configHome, home))
        return *folder;
    if (auto folder = qsettingsFolder(configHome + QStringLiteral("/flameshot/flameshot.ini"), "General",
                                      "savePath", home))
        return *folder;
    if (auto folder = xfceScreenshooterFolder(configHome, home))
        return *folder;
    if (auto folder = qsettingsFolder(configHome + QStringLiteral("/ksnip/ksnip.conf"), "Application",
                                      "SaveDirectory", home))
        return *folder;
    if (auto folder = gnomeScreenshotFolder(env, home))
        return *folder;
    if (env.currentDesktop.contains(u"GNOME", Qt::CaseInsensitive)) {
        const QString pictures = picturesFolder(configHome, home);
        return joinedPath(pictures, screenshotsFolderName(pictures));
    }
    return joinedPath(home, QStringLiteral("Desktop"));
}

} // namespace quillary
