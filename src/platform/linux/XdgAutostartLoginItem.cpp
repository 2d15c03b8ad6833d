#include "platform/linux/XdgAutostartLoginItem.h"

#include "QuillaryVersion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <utility>

namespace quillary {

std::unique_ptr<LoginItemService> LoginItemService::createDefault()
{
    // GenericConfigLocation is $XDG_CONFIG_HOME, else ~/.config, read afresh on each call.
    return std::make_unique<XdgAutostartLoginItem>(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/autostart"),
        QCoreApplication::applicationFilePath(), QString::fromLatin1(kAppId));
}

namespace {

// Escapes for a value of type string; the reader undoes these before it splits Exec into arguments.
QString escapedStringValue(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool isTrue(const QString& value)
{
    return value.compare(u"true", Qt::CaseInsensitive) == 0;
}

bool isFalse(const QString& value)
{
    return value.compare(u"false", Qt::CaseInsensitive) == 0;
}

// Whether the session manager would skip the entry: Hidden=true, or GNOME's own switch turned off.
bool isTurnedOff(const QByteArray& contents)
{
    bool hidden = false;
    bool gnomeDisabled = false;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.first(equals).trimmed();
        const QString value = line.sliced(equals + 1).trimmed();
        // A repeated key: the last one wins, as in the usual key-file readers.
        if (key == u"Hidden")
            hidden = isTrue(value);
        else if (key == u"X-GNOME-Autostart-enabled")
            gnomeDisabled = isFalse(value);
    }
    return hidden || gnomeDisabled;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartDirectory, QString executablePath,
                                             QString appId)
    : m_autostartDirectory(std::move(autostartDirectory))
    , m_executablePath(std::move(executablePath))
    , m_appId(std::move(appId))
{
}

QString XdgAutostartLoginItem::entryPath() const
{
    return m_autostartDirectory + u'/' + m_appId + QStringLiteral(".desktop");
}

QString XdgAutostartLoginItem::desktopExecValue(const QString& executablePath)
{
    // Characters that force the argument into double quotes (plus \r, which a reader may split on).
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#`()");
    // Characters that must be backslash-escaped inside the quotes.
    static const QString escapedInQuotes = QStringLiteral("\"`$\\");

    bool needsQuotes = executablePath.isEmpty();
    for (const QChar c : executablePath)
        needsQuotes = needsQuotes || reserved.contains(c);

    QString argument;
    if (needsQuotes) {
        argument += u'"';
        for (const QChar c : executablePath) {
            if (escapedInQuotes.contains(c))
                argument += u'\\';
            argument += c;
        }
        argument += u'"';
    } else {
        argument = executablePath;
    }
    // `%` starts a field code everywhere in Exec, quoted or not.
    argument.replace(u'%', QStringLiteral("%%"));
    return escapedStringValue(argument);
}

LoginItemService::Status XdgAutostartLoginItem::status() const
{
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    return isTurnedOff(entry.readAll()) ? Status::notRegistered : Status::enabled;
}

std::optional<QString> XdgAutostartLoginItem::registerApp()
{
    if (m_executablePath.isEmpty())
        return QStringLiteral(
            "The location of the Quillary program is not known, so it cannot be started at login.");
    if (!QDir().mkpath(m_autostartDirectory))
        return QStringLiteral("Could not create the folder %1.")
            .arg(QDir::toNativeSeparators(m_autostartDirectory));

    const QString contents = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Quillary\n"
                                            "Comment=%1\n"
                                            "Exec=%2\n"
                                            "Icon=%3\n"
                                            "Terminal=false\n"
                                            "Categories=Utility;\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(escapedStringValue(QString::fromUtf8(kDescription)),
                                      desktopExecValue(m_executablePath), escapedStringValue(m_appId));

    // Written beside and renamed over, so a crash never leaves a half entry, and a hidden one is replaced.
    QSaveFile entry(entryPath());
    const QString shownPath = QDir::toNativeSeparators(entryPath());
    if (!entry.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write %1: %2").arg(shownPath, entry.errorString());
    const QByteArray bytes = contents.toUtf8();
    if (entry.write(bytes) != bytes.size()) {
        const QString error = entry.errorString();
        entry.cancelWriting();
        return QStringLiteral("Could not write %1: %2").arg(shownPath, error);
    }
    if (!entry.commit())
        return QStringLiteral("Could not write %1: %2").arg(shownPath, entry.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostartLoginItem::unregisterApp()
{
    QFile entry(entryPath());
    if (entry.remove())
        return std::nullopt;
    // Removing what is not there is the outcome asked for.
    const QFileInfo info(entryPath());
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    return QStringLiteral("Could not remove %1: %2")
        .arg(QDir::toNativeSeparators(entryPath()), entry.errorString());
}

} // namespace quillary
