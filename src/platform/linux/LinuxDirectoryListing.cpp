#include "platform/DirectoryListing.h"

#include "core/FileNames.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quillary {
namespace {

bool hasExtension(const char* name, const QList<QByteArray>& extensions)
{
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return false;
    for (const QByteArray& extension : extensions) {
        if (strcasecmp(dot + 1, extension.constData()) == 0)
            return true;
    }
    return false;
}

qint64 toNanoseconds(const struct statx_timestamp& t)
{
    return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

DirectoryListing listFilesWithExtensions(const QString& folder, const QList<QByteArray>& extensions)
{
    DirectoryListing listing;
    const QByteArray encoded = toNativePath(folder);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(encoded.constData()), &closedir);
    if (!dir) {
        listing.errorDescription = QStringLiteral("The folder “%1” could not be listed: %2")
                                       .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return listing;
    }
    const int dirFd = dirfd(dir.get());
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' || !hasExtension(name, extensions))
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        DirectoryEntry file;
        file.name = fromNativePath(QByteArray(name));
        struct statx status {};
        if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                  STATX_BTIME | STATX_CTIME | STATX_MTIME | STATX_SIZE | STATX_TYPE | STATX_INO,
                  &status) == 0) {
            if ((status.stx_mask & STATX_TYPE) && !S_ISREG(status.stx_mode)) {
                errno = 0;
                continue;
            }
            if (status.stx_mask & STATX_BTIME)
                file.creationTimeNs = toNanoseconds(status.stx_btime);
            else if (status.stx_mask & STATX_CTIME)
                file.creationTimeNs = toNanoseconds(status.stx_ctime);
            if (status.stx_mask & STATX_MTIME)
                file.modificationTimeNs = toNanoseconds(status.stx_mtime);
            if (status.stx_mask & STATX_SIZE)
                file.size = static_cast<qint64>(status.stx_size);
            if (status.stx_mask & STATX_INO) {
                file.device = makedev(status.stx_dev_major, status.stx_dev_minor);
                file.inode = status.stx_ino;
            }
        }
        listing.entries.push_back(std::move(file));
        errno = 0; // a failed statx must not pass for a failed readdir
    }
    if (errno != 0) {
        listing.errorDescription = QStringLiteral("The folder “%1” could not be listed: %2")
                                       .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        listing.entries.clear();
        return listing;
    }
    listing.ok = true;
    return listing;
}

DirectoryListing listPngFiles(const QString& folder)
{
    return listFilesWithExtensions(folder, {QByteArrayLiteral("png")});
}

} // namespace quillary
