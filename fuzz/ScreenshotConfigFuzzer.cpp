// The readers of the screenshot tools' settings: user-dirs.dirs, the tools' configuration files, the
// output of gsettings, and the file names Flameshot and ksnip make from their patterns. The input is
// several texts cut at NUL bytes (see the Part enum). Where a reference exists, the reading is held
// against it: GLib reads user-dirs.dirs and prints what gsettings prints, QSettings writes what
// Flameshot and ksnip store, and strftime makes the names Flameshot makes.
#include <glib.h>

#include "FuzzSupport.h"
#include "core/FileNames.h"
#include "platform/ScreenshotLocation.h"
#include "platform/ScreenshotToolNames.h"
#include "platform/UserDirectories.h"
#include "platform/linux/ConfigFileText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>

#include <array>
#include <cstring>
#include <ctime>

using namespace quillary;

namespace {

enum Part {
    userDirs,
    spectaclerc,
    flameshotIni,
    xfceScreenshooter,
    ksnipConf,
    gsettingsOutput,
    currentDesktop,
    fileName,
    someText,
    flameshotPattern,
    ksnipPattern,
};

// Where each file part is written, under the config home; user-dirs.dirs has writeUserDirectories.
constexpr std::array<const char*, 5> kFiles{nullptr, "spectaclerc", "flameshot/flameshot.ini",
                                            "xfce4/xfce4-screenshooter", "ksnip/ksnip.conf"};

struct Session {
    QString home;
    QString configHome;
};

const Session& session()
{
    static const Session folders = [] {
        const QString root = fuzz::scratchFolder();
        for (const char* folder : {"/config/flameshot", "/config/xfce4", "/config/ksnip"})
            FUZZ_CHECK(QDir().mkpath(root + QString::fromLatin1(folder)));
        return Session{root + QStringLiteral("/home"), root + QStringLiteral("/config")};
    }();
    return folders;
}

bool isCleanAbsolute(const QString& path)
{
    return path.startsWith(u'/') && QDir::cleanPath(path) == path;
}

// A match takes no longer than this, however the pattern and the name are made.
constexpr qint64 kMatchMilliseconds = 1000;

bool matchesInTime(const QRegularExpression& names, const QString& name)
{
    QElapsedTimer timer;
    timer.start();
    const bool matched = names.match(name).hasMatch();
    FUZZ_CHECK(timer.elapsed() < kMatchMilliseconds);
    return matched;
}

// 2024-03-05 07:08:09, a Tuesday, in UTC.
std::tm sampleTime()
{
    std::tm time{};
    time.tm_year = 124;
    time.tm_mon = 2;
    time.tm_mday = 5;
    time.tm_hour = 7;
    time.tm_min = 8;
    time.tm_sec = 9;
    std::time_t seconds = timegm(&time);
    gmtime_r(&seconds, &time);
    return time;
}

// The name Flameshot saves under at sampleTime(), or nothing for a pattern with glibc's flags, field
// widths or E and O modifiers, which the names are not made for.
std::optional<QString> flameshotName(const QString& pattern)
{
    const QByteArray format = (pattern.isEmpty() ? QStringLiteral("%F_%H-%M") : pattern).toUtf8();
    for (qsizetype i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (QByteArrayView("-_0^#123456789EO").contains(format[i + 1]))
            return std::nullopt;
        ++i;
    }
    const std::tm time = sampleTime();
    std::vector<char> name(std::size_t(format.size()) * 64 + 64);
    const std::size_t length = std::strftime(name.data(), name.size(), format.constData(), &time);
    QString text = QString::fromUtf8(name.data(), qsizetype(length));
    return text.replace(u'/', u'\u2044').replace(u':', u'-');
}

// The name ksnip saves under at sampleTime() with `counter` for its #s.
QString ksnipName(const QString& pattern, int counter)
{
    const QString text = pattern.isEmpty() ? QStringLiteral("ksnip_$Y$M$D-$T") : pattern;
    const qsizetype firstHash = text.indexOf(u'#');
    QString name;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == firstHash) {
            name += QStringLiteral("%1").arg(counter, int(text.count(u'#')), 10, QChar(u'0'));
            i = text.lastIndexOf(u'#');
        } else if (text[i] == u'$' && i + 1 < text.size() && text[i + 1].unicode() < 0x80 &&
                   text[i + 1].isLetter()) {
            static const QHash<QChar, QString> fields{
                {u'Y', QStringLiteral("2024")},  {u'M', QStringLiteral("03")}, {u'D', QStringLiteral("05")},
                {u'h', QStringLiteral("07")},    {u'm', QStringLiteral("08")}, {u's', QStringLiteral("09")},
                {u'T', QStringLiteral("070809")}};
            name += fields.value(text[i + 1], text.sliced(i, 2));
            ++i;
        } else {
            name += text[i];
        }
    }
    return name;
}

void checkToolNames(const QString& flameshot, const QString& ksnip, const QString& someName)
{
    const QRegularExpression flameshotNames = flameshotFileNames(flameshot);
    const QRegularExpression ksnipNames = ksnipFileNames(ksnip);
    FUZZ_CHECK(flameshotNames.isValid() && ksnipNames.isValid());
    (void)matchesInTime(flameshotNames, someName);
    (void)matchesInTime(ksnipNames, someName);
    if (const std::optional<QString> name = flameshotName(flameshot)) {
        FUZZ_CHECK(matchesInTime(flameshotNames, *name + QStringLiteral(".png")));
        FUZZ_CHECK(matchesInTime(flameshotNames, *name + QStringLiteral("_2.png")));
    }
    FUZZ_CHECK(matchesInTime(ksnipNames, ksnipName(ksnip, 7) + QStringLiteral(".png")));
    FUZZ_CHECK(matchesInTime(ksnipNames, ksnipName(ksnip, 1234567) + QStringLiteral("(2).png")));
}

// What QSettings writes for a value (as Flameshot and ksnip store theirs) reads back as that value.
void checkQSettingsValue(const QString& value)
{
    static int files = 0;
    const QString path = fuzz::scratchFolder() + QStringLiteral("/written-%1.ini").arg(++files);
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("savePath"), value);
        settings.setValue(QStringLiteral("Application/SaveDirectory"), value);
    }
    const std::optional<QByteArray> contents = configtext::readFile(path);
    QFile::remove(path);
    FUZZ_CHECK(contents);
    for (const auto& [group, key] :
         {std::pair{"General", "savePath"}, std::pair{"Application", "SaveDirectory"}}) {
        const std::optional<configtext::RawEntry> entry = configtext::findEntry(*contents, group, key);
        FUZZ_CHECK(entry);
        FUZZ_CHECK(configtext::qsettingsText(entry->value) == value);
    }
}

// What gsettings prints for a string, plain or as a maybe-string behind its type, reads back as it.
void checkGVariantText(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    GVariant* const plain = g_variant_ref_sink(g_variant_new_string(utf8.constData()));
    GVariant* const maybe = g_variant_ref_sink(g_variant_new_maybe(G_VARIANT_TYPE_STRING, plain));
    for (const auto& [variant, annotated] : {std::pair<GVariant*, gboolean>{plain, FALSE}, {maybe, TRUE}}) {
        gchar* const printed = g_variant_print(variant, annotated);
        FUZZ_CHECK(configtext::gvariantText(QString::fromUtf8(printed)) == value);
        g_free(printed);
    }
    g_variant_unref(maybe);
    g_variant_unref(plain);
}

// user-dirs.dirs as GLib reads it, in the file system's bytes; paths compared once cleaned. On lines
// the shell that the file is also written for would read otherwise, GLib goes its own way (it keeps
// backslash escapes, takes the last of three quotes as the closing one, `$HOMEx` as `$HOME/x`, and
// "/" as an empty path, having cut its trailing slash), so only files without such lines are
// compared. When it reloads the file, GLib keeps the folder it had for any that the file no longer
// names, so every folder is first set to a marker for none.
bool isPlainUserDirectories(const QByteArray& file)
{
    for (const QByteArray& line : file.split('\n')) {
        const qsizetype home = line.indexOf("\"$HOME");
        if (line.contains('\\') || line.count('"') > 2 || line.contains("\"/\"") ||
            (home >= 0 && home + 6 < line.size() && line[home + 6] != '/' && line[home + 6] != '"'))
            return false;
    }
    return true;
}

void writeUserDirectories(const std::optional<QByteArray>& file)
{
    static constexpr std::array kWhich{std::pair{UserDirectory::desktop, G_USER_DIRECTORY_DESKTOP},
                                       std::pair{UserDirectory::documents, G_USER_DIRECTORY_DOCUMENTS},
                                       std::pair{UserDirectory::downloads, G_USER_DIRECTORY_DOWNLOAD},
                                       std::pair{UserDirectory::pictures, G_USER_DIRECTORY_PICTURES}};
    static constexpr char kNone[] = "/none";
    const Session& folders = session();
    const QString path = folders.configHome + QStringLiteral("/user-dirs.dirs");
    fuzz::writeFile(path, "XDG_DESKTOP_DIR=\"/none\"\nXDG_DOCUMENTS_DIR=\"/none\"\n"
                          "XDG_DOWNLOAD_DIR=\"/none\"\nXDG_PICTURES_DIR=\"/none\"\n");
    g_reload_user_special_dirs_cache();
    if (file)
        fuzz::writeFile(path, *file);
    else
        QFile::remove(path);
    if (file && !isPlainUserDirectories(*file))
        return;
    g_reload_user_special_dirs_cache();
    for (const auto& [which, glibWhich] : kWhich) {
        const char* const glib = g_get_user_special_dir(glibWhich);
        const std::optional<QString> named = namedUserDirectory(which, folders.home, folders.configHome);
        FUZZ_CHECK(glib);
        if (std::strcmp(glib, kNone) == 0)
            FUZZ_CHECK(!named);
        else
            FUZZ_CHECK(named && toNativePath(*named) == toNativePath(QDir::cleanPath(fromNativePath(glib))));
    }
}

} // namespace

// GLib's reload of user-dirs.dirs leaks the folders it replaces, as its documentation says it does.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libglib-2.0.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // GLib reads these once, on first use.
    const Session& folders = session();
    qputenv("HOME", toNativePath(folders.home));
    qputenv("XDG_CONFIG_HOME", toNativePath(folders.configHome));
    qputenv("TZ", "UTC");
    (void)g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP); // loaded once, reloaded for each input
    fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<QByteArray> parts = fuzz::nulSeparatedParts(data, size);
    const auto part = [&parts](Part which) -> std::optional<QByteArray> {
        return std::size_t(which) < parts.size() ? std::optional(parts[std::size_t(which)]) : std::nullopt;
    };
    const auto text = [&part](Part which) { return QString::fromUtf8(part(which).value_or(QByteArray())); };
    const Session& folders = session();

    writeUserDirectories(part(userDirs));
    for (std::size_t i = 1; i < kFiles.size(); ++i) {
        const QString path = folders.configHome + u'/' + QString::fromLatin1(kFiles[i]);
        if (const std::optional<QByteArray> contents = part(Part(i)))
            fuzz::writeFile(path, *contents);
        else
            QFile::remove(path);
    }

    ScreenshotLocationEnvironment env;
    env.home = folders.home;
    env.configHome = folders.configHome;
    env.currentDesktop = text(currentDesktop);
    env.kdeSessionVersion = size % 2 ? QStringLiteral("6") : QStringLiteral("5");
    env.gnomeScreenshotAutoSaveDirectory = [&]() -> std::optional<QString> {
        const auto printed = part(gsettingsOutput);
        return printed ? std::optional(QString::fromUtf8(*printed)) : std::nullopt;
    };
    const QString folder = screenshotSaveFolder(env);
    FUZZ_CHECK(isCleanAbsolute(folder));
    const ScreenshotToolNames names = screenshotToolNames(folder, env);
    QElapsedTimer timer;
    timer.start();
    (void)names.matches(text(fileName));
    FUZZ_CHECK(timer.elapsed() < kMatchMilliseconds);

    // The pieces on their own.
    const QByteArray raw = part(someText).value_or(QByteArray());
    (void)configtext::qsettingsText(raw);
    for (const bool expands : {false, true}) {
        const std::optional<QString> kconfig = configtext::kconfigText({raw, expands}, folders.home);
        if (const std::optional<QString> absolute = configtext::absoluteFolder(kconfig, folders.home))
            FUZZ_CHECK(isCleanAbsolute(*absolute));
    }
    if (const std::optional<QString> absolute = configtext::absoluteFolder(text(someText), folders.home))
        FUZZ_CHECK(isCleanAbsolute(*absolute));
    (void)configtext::gvariantText(text(someText));

    checkQSettingsValue(text(someText));
    checkGVariantText(text(someText));
    checkToolNames(text(flameshotPattern), text(ksnipPattern), text(fileName));
    return 0;
}
