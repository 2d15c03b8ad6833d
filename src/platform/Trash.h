#pragma once

#include <QString>

namespace quillary {

// Moves the file or folder at `path` into the desktop trash. True only when it now lies in a trash
// folder; on false it is still at `path` (or, if it could not be put back, logged where it is).
bool moveToTrash(const QString& path);

// Whether `pathInTrash` names an item directly inside the `files` folder of a trash: the home trash
// (`…/Trash/files`) or a volume's `.Trash-<uid>/files` or `.Trash/<uid>/files` of this user.
// Relative paths never do.
bool isTrashedLocation(const QString& pathInTrash);

} // namespace quillary
