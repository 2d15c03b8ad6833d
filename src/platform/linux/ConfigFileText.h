#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Readers of the text in the screenshot tools' configuration files: INI groups and keys, the
// escapes of QSettings, KConfig and GVariant, and the folder forms the tools store.
namespace quillary::configtext {

// The file's bytes without a UTF-8 byte-order mark; nothing when it cannot be read.
std::optional<QByteArray> readFile(const QString& path);

// A value as it stands in an INI-style file, before the file's own escapes are undone.
struct RawEntry {
    QByteArray value;
    bool expandsVariables = false; // KConfig's `key[$e]=`
};

// `key` in `[group]`; an empty group means the lines before the first group header. The last
// occurrence wins, as in all the readers of these files. A translated `key[de]` is not the key.
std::optional<RawEntry> findEntry(const QByteArray& contents, QByteArrayView group, QByteArrayView key);

// Undoes QSettings' INI escapes: `"…"` keeps spaces, commas and semicolons; backslash escapes as in
// C, `\x` taking every hex digit that follows; an unquoted `;` starts a comment. An unquoted comma,
// which QSettings would split into a list, is kept as written. `@…` is a non-text value.
std::optional<QString> qsettingsText(const QByteArray& raw);

// Undoes KConfig's escapes (`\s`, `\t`, `\n`, `\r`, `\\`, `\;`, `\,`, `\xHH` for a byte), and for
// a `[$e]` entry replaces `$HOME` / `${HOME}` and `$$`. Any other variable cannot be resolved here,
// so such an entry gives nothing rather than a wrong folder.
std::optional<QString> kconfigText(const RawEntry& entry, const QString& home);

// The text of a string as gsettings prints a GVariant: `'…'`, or `"…"` when the text holds a
// single quote, possibly behind a type annotation (`@ms nothing`). Unquoted output has no text.
std::optional<QString> gvariantText(const QString& printed);

// A folder as the tools store it: a local file:// URL (percent-encoded), `~` or `~/…`, or an
// absolute path. Anything else (empty, relative, `~user`, another URL scheme) is not a setting we
// can use.
std::optional<QString> absoluteFolder(const std::optional<QString>& value, const QString& home);

} // namespace quillary::configtext
