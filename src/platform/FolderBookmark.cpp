#include "platform/FolderBookmark.h"

#include "core/FileNames.h"

#include <QDir>

namespace quillary {

std::optional<QByteArray> createFolderBookmark(const QUrl& folder)
{
    if (!folder.isLocalFile())
        return std::nullopt;
    const QString path = QDir::cleanPath(folder.toLocalFile());
    if (!QDir::isAbsolutePath(path) || !isDirectory(path))
        return std::nullopt;
    return toNativePath(path);
}

std::optional<ResolvedFolderBookmark> resolveFolderBookmark(const QByteArray& bookmark)
{
    const QString path = fromNativePath(bookmark);
    if (!QDir::isAbsolutePath(path) || !isDirectory(path))
        return std::nullopt;
    return ResolvedFolderBookmark{QUrl::fromLocalFile(path), false};
}

} // namespace quillary
