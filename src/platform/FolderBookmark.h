#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace quillary {

// A stored reference to a folder the user picked, kept under "folderBookmark".
//
// Here a bookmark is the folder's absolute path as UTF-8: it resolves while that path is a directory
// and is never stale. Platforms that sandbox file access would keep a scoped reference instead.
struct ResolvedFolderBookmark {
    QUrl folder;
    bool isStale = false;
};

std::optional<QByteArray> createFolderBookmark(const QUrl& folder);
std::optional<ResolvedFolderBookmark> resolveFolderBookmark(const QByteArray& bookmark);

// Access grants for sandboxed folders. Without a sandbox there is nothing to hold: start answers false.
bool startAccessingSecurityScopedResource(const QUrl& folder);
void stopAccessingSecurityScopedResource(const QUrl& folder);

} // namespace quillary
