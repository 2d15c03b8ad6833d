// The POSIX parts of platform/FileSystem.h, the same on every Unix, so every platform builds them.
#include "platform/FileSystem.h"

#include "core/FileNames.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
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

} // namespace quillary
