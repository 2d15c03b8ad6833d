#pragma once

#include <QByteArray>
#include <QList>
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

// Lists the visible regular files of `folder` (no recursion) whose names end in "." and one of
// `extensions` (given in lower case, matched in any case), in directory order. An entry whose kind
// cannot be read is listed too. Other entries cost no file-status call.
DirectoryListing listFilesWithExtensions(const QString& folder, const QList<QByteArray>& extensions);

// listFilesWithExtensions for ".png".
DirectoryListing listPngFiles(const QString& folder);

} // namespace quillary
