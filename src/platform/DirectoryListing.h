#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace quillary {

// One regular file of a listed folder, with what the screenshot scan needs to know of it.
struct DirectoryEntry {
    QString name; // as fromNativePath decodes it: toNativePath gives back the name's bytes
    // Birth time where the filesystem records one, else the status-change time; nanoseconds since
    // the epoch. No value when it cannot be read.
    std::optional<qint64> creationTimeNs;
    std::optional<qint64> size;
    // Which file this is: with the times above and below, a file put in the place of another (even
    // one that reuses its inode number) or rewritten differs from the file that was there before.
    // Zero when unknown.
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<qint64> modificationTimeNs{};
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
