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

    // The longest text read, in UTF-8 bytes: some thousands of folders. Anything longer is not parsed
    // at all, so a list that grew absurdly (or a huge string in it) costs no time and no memory.
    static constexpr qsizetype kMaxTextBytes = qsizetype(1) << 20;

    // Strict: one unusable element makes the whole text unreadable, so a damaged list is never
    // half-loaded and then saved back shorter. Extra keys in an element are ignored, so a newer
    // version's additions do not make the list unreadable. Text over kMaxTextBytes is unreadable too,
    // and so is nesting deeper than the JSON reader's limit.
    static std::optional<FolderList> fromText(const QString& text);

    // Ids are written as canonical upper-case text without braces.
    QString toText() const;

    friend bool operator==(const FolderList&, const FolderList&) = default;
};

} // namespace quillary
