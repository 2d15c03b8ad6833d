#include "platform/FileSystem.h"

namespace quillary {

RenameOutcome renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    return renameNoReplaceByLink(from, to);
}

} // namespace quillary
