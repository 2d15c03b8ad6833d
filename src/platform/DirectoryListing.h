#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace quillary {

// One regular file of a listed folder, with what the screenshot scan needs to know of it.
struct DirectoryEntry {
    QString name;
    // Birth time where the filesystem records one, else the status-change time; nanoseconds since
    // the epoch. No value when it cannot be read.
    std::optional<qint64> creationTimeNs;
    std::optional<qint64> size;
};

struct DirectoryListing {
    bool ok = false;
    QString errorDescription; // set when !ok
    std::vector<DirectoryEntry> entries;
};

// Lists the visible regular files of `folder` (no recursion) whose names end in ".png" in any case,
// in directory order. Other entries cost no file-status call.
DirectoryListing listPngFiles(const QString& folder);

} // namespace quillary
