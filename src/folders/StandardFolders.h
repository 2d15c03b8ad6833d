#pragma once

#include "folders/FolderConfig.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace quillary {

// "Desktop", "Documents", "Downloads", "Pictures", in the order they are offered and seeded.
QStringList standardFolderNames();

// Exact, case-sensitive membership in standardFolderNames().
bool isStandardFolderName(const QString& name);

// The user's folder for a standard name, as the session names it (localised through
// `user-dirs.dirs`); any name that is not exactly "Documents", "Downloads" or "Pictures" means the
// desktop. Falls back to the English name under the home folder when the session names none.
QUrl standardDirectoryURL(const QString& name);

// Where a folder's screenshots go. A standard folder is its standard directory whatever its path
// says; a custom folder is `name` inside the standard directory named by the first piece of its path
// (the desktop when there is no such piece).
QUrl configDirectoryURL(const FolderConfig& folder);

} // namespace quillary
