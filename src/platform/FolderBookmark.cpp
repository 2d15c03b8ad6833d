#include "platform/FolderBookmark.h"

#include <QDir>
#include <QFileInfo>

namespace quillary {

std::optional<QByteArray> createFolderBookmark(const QUrl& folder)
{
    if (!folder.isLocalFile())
        return std::nullopt;
    const QFileInfo info(folder.toLocalFile());
    if (!info.isAbsolute() || !info.isDir())
        return std::nullopt;
    return QDir::cleanPath(info.absoluteFilePath()).toUtf8();
}

std::optional<ResolvedFolderBookmark> resolveFolderBookmark(const QByteArray& bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    // Bytes that are not UTF-8 decode with replacement characters and so never name the folder.
    if (path.toUtf8() != bookmark || !QDir::isAbsolutePath(path) || !QFileInfo(path).isDir())
        return std::nullopt;
    return ResolvedFolderBookmark{QUrl::fromLocalFile(path), false};
}

bool startAccessingSecurityScopedResource(const QUrl&)
{
    return false;
}

void stopAccessingSecurityScopedResource(const QUrl&) {}

} // namespace quillary
