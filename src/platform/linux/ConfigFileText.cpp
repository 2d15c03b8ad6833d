#include "platform/linux/ConfigFileText.h"

#include <QDir>
#include <QFile>
#include <QUrl>

namespace quillary::configtext {

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
    QString value;
    QString pendingSpace; // unquoted blanks, kept only when more text follows
    bool quoted = false;
    const auto append = [&](QChar c) {
        if (!value.isEmpty())
            value += pendingSpace;
        pendingSpace.clear();
        value += c;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u';') {
            break;
        } else if (!quoted && (c == u' ' || c == u'\t')) { // QSettings' only blanks
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
    // As QSettings reads it once unquoted: "@@" stands for a leading "@", any other "@" for a
    // serialised type, which is no text.
    if (value.startsWith(u"@@"))
        return value.sliced(1);
    if (value.startsWith(u'@'))
        return std::nullopt;
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
            // Appended as the character it is: QString::fromUcs4 would drop a U+FEFF as a byte-order mark.
            const bool scalar = code <= 0x10FFFF && !QChar::isSurrogate(code);
            text += QChar::fromUcs4(scalar ? code : char32_t(QChar::ReplacementCharacter));
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

} // namespace quillary::configtext
