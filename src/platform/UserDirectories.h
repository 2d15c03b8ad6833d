#pragma once

#include <QString>

#include <optional>

namespace quillary {

// The user's own folders that the session names in `user-dirs.dirs` (localised, e.g. `Schreibtisch`).
enum class UserDirectory { desktop, documents, downloads, pictures };

// $XDG_CONFIG_HOME, or `home`/.config when it is unset, empty or relative.
QString sessionConfigHome(const QString& home);

// The folder that `configHome`/user-dirs.dirs names for `which`, read the way GLib reads it:
// `XDG_…_DIR="$HOME/…"` or `"/…"`, backslash escapes, the last usable line wins; `"$HOME/"` names
// the home itself. Nothing when the file is missing or names none.
std::optional<QString> namedUserDirectory(UserDirectory which, const QString& home,
                                          const QString& configHome);

// The named folder, else the English name under `home` (where the session would make it).
QString userDirectory(UserDirectory which, const QString& home, const QString& configHome);

// The same for the running session, with $HOME and $XDG_CONFIG_HOME read afresh.
QString userDirectory(UserDirectory which);

} // namespace quillary
