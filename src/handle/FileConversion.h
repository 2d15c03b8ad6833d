#pragma once

#include <QString>

namespace quillary {

// What happened to one move or conversion. Whatever the outcome, the source is either untouched
// or (only for `placed`) gone with its content complete at the target; no temporary file remains.
enum class PlaceResult {
    placed,       // the target holds the result and the source is gone
    targetExists, // something already lies at the target; nothing changed
    failed,       // unreadable or undecodable source, unknown format, write error; nothing changed
};

// Brings `source` to `target` in `format` ("png": a plain move, bytes untouched; "jpg"; "pdf";
// compared without regard to case; any other text writes nothing and fails). Never replaces an
// existing file. Blocking: runs on a worker thread, never the UI thread.
PlaceResult convertAndPlace(const QString& source, const QString& target, const QString& format);

} // namespace quillary
