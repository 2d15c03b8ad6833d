#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

namespace quillary {

enum class RenameOutcome {
    placed,      // `to` names the file and `from` no longer does
    exists,      // something, even a dangling symlink, already has the name `to`; nothing changed
    crossDevice, // the two names lie on different filesystems; nothing changed
    failed,      // anything else; nothing changed
};

// Gives the file at `from` the name `to` unless something is there already. Both are native paths
// (toNativePath). rename() would silently replace, so this is the only way files are renamed.
RenameOutcome renameNoReplace(const QByteArray& from, const QByteArray& to);

// The portable way to do the same, which renameNoReplace falls back to where the system has no
// better: link() never replaces either, and unlink() then drops the old name. Needs a filesystem
// with hard links.
RenameOutcome renameNoReplaceByLink(const QByteArray& from, const QByteArray& to);

// Calls `visit` with the name of every entry of `folder`, of any kind, hidden ones included but not
// "." and "..", in directory order and as the bytes on disk (fromNativePath decodes them). Nothing
// is stat'ed. False when the folder could not be listed to the end.
bool forEachEntryName(const QString& folder, const std::function<void(QByteArrayView name)>& visit);

// When the file at `path` (a link followed) was made, where the filesystem records that, else when
// its content last changed; seconds since the epoch. Nothing when neither can be read.
std::optional<qint64> creationOrModificationTime(const QString& path);

} // namespace quillary
