#include "platform/ScreenshotLocation.h"

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

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray contents = file.readAll();
    if (contents.startsWith("\xEF\xBB\xBF"))
        contents.remove(0, 3);
    return contents;
}

// A value as it stands in an INI-style file, before the file's own escapes are undone.
struct RawEntry {
    QByteArray value;
    bool expandsVariables = false; // KConfig's `key[$e]=`
};

// `key` in `[group]`; an empty group means the lines before the first group header. The last
// occurrence wins, as in all the readers of these files. A translated `key[de]` is not the key.
std::optional<RawEntry> findEntry(const QByteArray& contents, QByteArrayView group, QByteArrayView key)
{
    std::optional<RawEntry> found;
    QByteArray currentGroup;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            // A broken header keeps its bracket, so it matches no group.
            currentGroup = line.endsWith(']') ? line.sliced(1, line.size() - 2) : line;
            continue;
        }
        if (currentGroup != group)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        QByteArray name = line.first(equals).trimmed();
        bool expands = false;
        if (name.endsWith(']')) {
            const qsizetype open = name.indexOf('[');
            if (open < 0 || name.at(open + 1) != '$')
                continue;
            expands = name.sliced(open, name.size() - open).contains('e');
            name = name.first(open).trimmed();
        }
        if (name == key)
            found = RawEntry{line.sliced(equals + 1).trimmed(), expands};
    }
    return found;
}

// Undoes QSettings' INI escapes: `"…"` keeps spaces, commas and semicolons; backslash escapes as in
// C, `\x` taking every hex digit that follows; an unquoted `;` starts a comment. An unquoted comma,
// which QSettings would split into a list, is kept as written. `@…` is a non-text value.
std::optional<QString> qsettingsText(const QByteArray& raw)
{
    const QString text = QString::fromUtf8(raw);
    if (text.startsWith(u'@') && !text.startsWith(u"@@"))
        return std::nullopt;
    QString value;
    QString pendingSpace; // unquoted blanks, kept only when more text follows
    bool quoted = false;
    const auto append = [&](QChar c) {
        if (!value.isEmpty())
            value += pendingSpace;
        pendingSpace.clear();
        value += c;
    };
    for (qsizetype i = text.startsWith(u"@@") ? 1 : 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u';') {
            break;
        } else if (!quoted && c.isSpace()) {
            pendingSpace += c;
        } else if (c != u'\\' || i + 1 == text.size()) {
            append(c);
        } else {
            const QChar escaped = text[++i];
            static const QString codes = QStringLiteral("abfnrtv");
            static const QString controls = QStringLiteral("\a\b\f\n\r\t\v");
            if (const qsizetype at = codes.indexOf(escaped); at >= 0) {
                append(controls[at]);
            } else if (escaped == u'x' || (escaped >= u'0' && escaped <= u'7')) {
                const bool hex = escaped == u'x';
                const qsizetype start = hex ? i + 1 : i;
                qsizetype end = start;
                const auto isDigit = [hex](QChar d) {
                    return (d >= u'0' && d <= u'7') ||
                           (hex &&
                            ((d >= u'8' && d <= u'9') || (d.toLower() >= u'a' && d.toLower() <= u'f')));
                };
                while (end < text.size() && isDigit(text[end]) && (hex || end - start < 3))
                    ++end;
                bool ok = false;
                const uint code = text.sliced(start, end - start).toUInt(&ok, hex ? 16 : 8);
                if (ok && code <= 0xFFFF)
                    append(QChar(static_cast<char16_t>(code)));
                i = end - 1;
            } else {
                append(escaped);
            }
        }
    }
    return value;
}

// Undoes KConfig's escapes (`\s`, `\t`, `\n`, `\r`, `\\`, `\;`, `\,`, `\xHH` for a byte), and for
// a `[$e]` entry replaces `$HOME` / `${HOME}` and `$$`. Any other variable cannot be resolved here,
// so such an entry gives nothing rather than a wrong folder.
std::optional<QString> kconfigText(const RawEntry& entry, const QString& home)
{
    const QByteArray& raw = entry.value;
    QByteArray bytes;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            bytes += raw[i];
            continue;
        }
        const char escaped = raw[++i];
        switch (escaped) {
        case 's':
            bytes += ' ';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case '\\':
        case ';':
        case ',':
            bytes += escaped;
            break;
        case 'x': {
            bool ok = false;
            const int byte = raw.mid(i + 1, 2).toInt(&ok, 16);
            if (!ok || i + 2 >= raw.size())
                return std::nullopt;
            bytes += static_cast<char>(byte);
            i += 2;
            break;
        }
        default:
            bytes += '\\';
            bytes += escaped;
        }
    }
    const QString text = QString::fromUtf8(bytes);
    if (!entry.expandsVariables)
        return text;

    QString expanded;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'$') {
            expanded += text[i];
        } else if (text.sliced(i).startsWith(u"$$")) {
            expanded += u'$';
            ++i;
        } else if (text.sliced(i).startsWith(u"${HOME}")) {
            expanded += home;
            i += 6;
        } else if (text.sliced(i).startsWith(u"$HOME") &&
                   (i + 5 == text.size() || !(text[i + 5].isLetterOrNumber() || text[i + 5] == u'_'))) {
            expanded += home;
            i += 4;
        } else {
            return std::nullopt;
        }
    }
    return expanded;
}

// The text of a string as gsettings prints a GVariant: `'…'`, or `"…"` when the text holds a
// single quote, possibly behind a type annotation (`@ms nothing`). Unquoted output has no text.
std::optional<QString> gvariantText(const QString& printed)
{
    QString quotedText = printed.trimmed();
    if (quotedText.startsWith(u'@')) {
        const qsizetype space = quotedText.indexOf(u' ');
        if (space < 0)
            return std::nullopt;
        quotedText = quotedText.sliced(space + 1).trimmed();
    }
    if (quotedText.size() < 2)
        return std::nullopt;
    const QChar quote = quotedText.front();
    if ((quote != u'\'' && quote != u'"') || quotedText.back() != quote)
        return std::nullopt;
    const QString body = quotedText.sliced(1, quotedText.size() - 2);
    QString text;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != u'\\') {
            text += body[i];
            continue;
        }
        if (++i == body.size())
            return std::nullopt;
        const QChar escaped = body[i];
        static const QString codes = QStringLiteral("abfnrtv");
        static const QString controls = QStringLiteral("\a\b\f\n\r\t\v");
        if (const qsizetype at = codes.indexOf(escaped); at >= 0) {
            text += controls[at];
        } else if (escaped == u'u' || escaped == u'U') {
            const qsizetype digits = escaped == u'u' ? 4 : 8;
            if (body.size() - 1 - i < digits)
                return std::nullopt;
            bool ok = false;
            const char32_t code = body.sliced(i + 1, digits).toUInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            text += QString::fromUcs4(&code, 1);
            i += digits;
        } else {
            text += escaped;
        }
    }
    return text;
}

// A folder as the tools store it: a local file:// URL (percent-encoded), `~` or `~/…`, or an
// absolute path. Anything else (empty, relative, `~user`, another URL scheme) is not a setting we
// can use.
std::optional<QString> absoluteFolder(const std::optional<QString>& value, const QString& home)
{
    if (!value)
        return std::nullopt;
    QString path = *value;
    if (path.startsWith(u"file:", Qt::CaseInsensitive)) {
        const QUrl url(path);
        if (!url.isValid() || !url.isLocalFile())
            return std::nullopt;
        if (!url.host().isEmpty() && url.host().compare(u"localhost", Qt::CaseInsensitive) != 0)
            return std::nullopt;
        path = url.path(QUrl::FullyDecoded);
    } else if (path == u"~" || path.startsWith(u"~/")) {
        path = home + path.sliced(1);
    }
    if (!path.startsWith(u'/'))
        return std::nullopt;
    return QDir::cleanPath(path);
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
