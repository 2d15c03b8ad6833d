#include "platform/UserDirectories.h"

#include "core/FileNames.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

namespace quillary {
namespace {

struct Names {
    QByteArray key;
    QString english;
};

Names namesOf(UserDirectory which)
{
    switch (which) {
    case UserDirectory::documents:
        return {QByteArrayLiteral("XDG_DOCUMENTS_DIR"), QStringLiteral("Documents")};
    case UserDirectory::downloads:
        return {QByteArrayLiteral("XDG_DOWNLOAD_DIR"), QStringLiteral("Downloads")};
    case UserDirectory::pictures:
        return {QByteArrayLiteral("XDG_PICTURES_DIR"), QStringLiteral("Pictures")};
    case UserDirectory::desktop:
        break;
    }
    return {QByteArrayLiteral("XDG_DESKTOP_DIR"), QStringLiteral("Desktop")};
}

// Spaces and tabs, the blanks the shell and GLib skip; a line with any other control character
// before its name is not an assignment.
QByteArray withoutLeadingBlanks(const QByteArray& text)
{
    qsizetype start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    return text.sliced(start);
}

// `"$HOME/…"`, `"$HOME"` or `"/…"` after the `=`, quotes closed; anything else is not a usable line.
std::optional<QString> lineValue(QByteArray line, const QString& home)
{
    if (!line.startsWith('"'))
        return std::nullopt;
    line = line.sliced(1);
    const bool inHome = line.startsWith("$HOME");
    if (inHome) {
        line = line.sliced(5);
        if (line.startsWith('/'))
            line = line.sliced(1);
        else if (!line.startsWith('"'))
            return std::nullopt;
    } else if (!line.startsWith('/')) {
        return std::nullopt;
    }
    QByteArray value;
    qsizetype i = 0;
    for (; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            ++i;
        value += line[i];
    }
    if (i == line.size())
        return std::nullopt; // no closing quote: a line cut short
    // The folder's name as the file system has it, bytes that are not UTF-8 included.
    const QString path = fromNativePath(value);
    return QDir::cleanPath(inHome ? home + u'/' + path : path);
}

} // namespace

QString sessionConfigHome(const QString& home)
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    return configHome.startsWith(u'/') ? configHome : home + QStringLiteral("/.config");
}

std::optional<QString> namedUserDirectory(UserDirectory which, const QString& home, const QString& configHome)
{
    QFile file(configHome + QStringLiteral("/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray key = namesOf(which).key;
    std::optional<QString> folder;
    for (const QByteArray& rawLine : file.readAll().split('\n')) {
        QByteArray line = withoutLeadingBlanks(rawLine);
        if (!line.startsWith(key))
            continue;
        line = withoutLeadingBlanks(line.sliced(key.size()));
        if (!line.startsWith('='))
            continue;
        if (auto value = lineValue(withoutLeadingBlanks(line.sliced(1)), home))
            folder = std::move(value);
    }
    return folder;
}

QString userDirectory(UserDirectory which, const QString& home, const QString& configHome)
{
    if (auto folder = namedUserDirectory(which, home, configHome))
        return *folder;
    return QDir::cleanPath(home + u'/' + namesOf(which).english);
}

QString userDirectory(UserDirectory which)
{
    const QString home = QDir::homePath();
    return userDirectory(which, home, sessionConfigHome(home));
}

} // namespace quillary
