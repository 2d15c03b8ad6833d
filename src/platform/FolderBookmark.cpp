#include "platform/FolderBookmark.h"

#include "core/FileNames.h"

#include <QDir>

#include <sys/stat.h>

namespace quillary {
namespace {

bool isDirectory(const QByteArray& nativePath)
{
    struct stat info {};
    return stat(nativePath.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::optional<QByteArray> createFolderBookmark(const QUrl& folder)
{
    if (!folder.isLocalFile())
        return std::nullopt;
    const QString path = QDir::cleanPath(folder.toLocalFile());
    const QByteArray native = toNativePath(path);
    if (!QDir::isAbsolutePath(path) || !isDirectory(native))
        return std::nullopt;
    return native;
}

std::optional<ResolvedFolderBookmark> resolveFolderBookmark(const QByteArray& bookmark)
{
    const QString path = fromNativePath(bookmark);
    if (!QDir::isAbsolutePath(path) || !isDirectory(bookmark))
        return std::nullopt;
    return ResolvedFolderBookmark{QUrl::fromLocalFile(path), false};
}

} // namespace quillary
