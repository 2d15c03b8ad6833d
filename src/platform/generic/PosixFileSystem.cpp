// The POSIX parts of platform/FileSystem.h, the same on every Unix (the birth time where the system
// offers statx), so every platform builds them.
#include "platform/FileSystem.h"

#include "core/FileNames.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quillary {

RenameOutcome renameNoReplaceByLink(const QByteArray& from, const QByteArray& to)
{
    if (link(from.constData(), to.constData()) != 0)
        return errno == EEXIST  ? RenameOutcome::exists
               : errno == EXDEV ? RenameOutcome::crossDevice
                                : RenameOutcome::failed;
    if (unlink(from.constData()) != 0) {
        unlink(to.constData()); // the same file under a second name: drop the one just made
        return RenameOutcome::failed;
    }
    return RenameOutcome::placed;
}

bool forEachEntryName(const QString& folder, const std::function<void(QByteArrayView name)>& visit)
{
    // Plain readdir: Qt's filtered listings stat every entry, several times slower on big folders.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(toNativePath(folder).constData()), &closedir);
    if (!dir)
        return false;
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(QByteArrayView(entry->d_name));
        errno = 0;
    }
    return errno == 0;
}

std::optional<qint64> creationOrModificationTime(const QString& path)
{
    const QByteArray native = toNativePath(path);
#ifdef STATX_BTIME
    // Linux keeps the birth time apart from stat(), on the filesystems that record it.
    struct statx status {};
    if (statx(AT_FDCWD, native.constData(), AT_NO_AUTOMOUNT, STATX_BTIME | STATX_MTIME, &status) != 0)
        return std::nullopt;
    if (status.stx_mask & STATX_BTIME)
        return qint64(status.stx_btime.tv_sec);
    if (status.stx_mask & STATX_MTIME)
        return qint64(status.stx_mtime.tv_sec);
    return std::nullopt;
#else
    struct stat status {};
    if (stat(native.constData(), &status) != 0)
        return std::nullopt;
    return qint64(status.st_mtime);
#endif
}

} // namespace quillary
