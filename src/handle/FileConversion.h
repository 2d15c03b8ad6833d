#pragma once

#include "handle/SafeFilePlacement.h"

#include <QString>

namespace quillary {

// The first step of bringing `source` to a target in `format` ("png": a plain move, bytes untouched;
// "jpg"; "pdf"; compared without regard to case): the source is opened once and, for "jpg" and "pdf",
// decoded from that descriptor and written converted to a synced temporary file next to `target`.
// Commit the result to `target` or, when that name is taken by then, to another in the same folder.
// Blocking: runs on a worker thread, never the UI thread.
PreparedPlacement prepareConversion(const QString& source, const QString& target, const QString& format);

// prepareConversion and commit in one. Never replaces an existing file.
PlaceResult convertAndPlace(const QString& source, const QString& target, const QString& format);

} // namespace quillary
