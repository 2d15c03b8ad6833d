#pragma once

#include "folders/FolderConfig.h"

#include <QList>
#include <QString>

#include <optional>

namespace quillary {

// The destination folders as stored under "savedFolders_v2": a compact JSON array of objects with
// the keys "id", "name", "path", "icon", "isRenamingEnabled", "prefix", "includeDate", "fileFormat".
struct FolderList final {
    QList<FolderConfig> folders;

    // Strict: one unusable element makes the whole text unreadable, so a damaged list is never
    // half-loaded and then saved back shorter. Extra keys in an element are ignored, so a newer
    // version's additions do not make the list unreadable.
    static std::optional<FolderList> fromText(const QString& text);

    // Ids are written as canonical upper-case text without braces.
    QString toText() const;

    friend bool operator==(const FolderList&, const FolderList&) = default;
};

} // namespace quillary
