#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace quillary {

// A stored reference to a folder the user picked, kept under "folderBookmark".
//
// Here a bookmark is the folder's absolute path as the file system's bytes (UTF-8 for every name
// that is valid UTF-8): it resolves while that path is a directory and is never stale. Platforms
// that sandbox file access would keep a scoped reference instead, and hold its access grant while
// the folder is watched; Linux has no such grant to hold.
struct ResolvedFolderBookmark {
    QUrl folder;
    bool isStale = false;
};

std::optional<QByteArray> createFolderBookmark(const QUrl& folder);
std::optional<ResolvedFolderBookmark> resolveFolderBookmark(const QByteArray& bookmark);

} // namespace quillary
