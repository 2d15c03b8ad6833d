#pragma once

#include "handle/FileConversion.h"

#include <QString>

#include <functional>

class QIODevice;

namespace quillary {

// Writes a file's whole content to `output`; false when it could not.
using ContentWriter = std::function<bool(QIODevice& output)>;

// Moves `source` to `target` without ever replacing what lies at `target`: within one filesystem by
// renaming, else by copying to a hidden temporary file in the target's folder that is synced, put in
// place and only then followed by the removal of the source. On any failure the source stays and no
// temporary file remains.
PlaceResult moveNoReplace(const QString& source, const QString& target);

// Creates `target` with the content `writer` gives, through a hidden temporary file in the target's
// folder that is synced before it takes the target's name, so the target is either absent or whole.
// Never replaces what lies at `target`, even a file that appears while `writer` runs.
PlaceResult writeNoReplace(const QString& target, const ContentWriter& writer);

} // namespace quillary
