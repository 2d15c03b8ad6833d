#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace quillary {

RenameOutcome renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return RenameOutcome::placed;
    if (errno == EEXIST)
        return RenameOutcome::exists;
    if (errno == EXDEV)
        return RenameOutcome::crossDevice;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return RenameOutcome::failed;
    // A filesystem without the no-replace flag.
    return renameNoReplaceByLink(from, to);
}

} // namespace quillary
