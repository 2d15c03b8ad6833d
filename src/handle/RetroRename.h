#pragma once

#include "core/Interaction.h"
#include "folders/FolderConfig.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <functional>
#include <optional>

namespace quillary {

class OwnOutputs;

// The naming values last committed for a folder.
struct RenameSnapshot {
    QString prefix;
    bool includeDate = false;
    QString format;

    friend bool operator==(const RenameSnapshot&, const RenameSnapshot&) = default;
};

// One request to rename the files already in a folder, with the values it was committed with.
struct RetroRenameJob {
    QUuid folderID;
    QString prefix;
    bool includeDate = false;
    QString format;

    friend bool operator==(const RetroRenameJob&, const RetroRenameJob&) = default;
};

// What the settings window keeps between a folder's Change action and its Done action: the values
// committed per folder and the jobs waiting to run. Nothing of it is stored; jobs still pending when
// the window's content goes are dropped. Main thread only.
struct RetroRenameBook {
    QHash<QUuid, RenameSnapshot> committedRenameSnapshot;
    QList<RetroRenameJob> pendingRetroRenames;

    // One entry per folder of `folders`, unless the snapshot already has entries.
    void fillSnapshot(const QList<FolderConfig>& folders);
    // The entry of a folder just added, from its own values.
    void recordAddedFolder(const FolderConfig& folder);
    // Whether the folder's Change action is offered: a custom folder with renaming on whose prefix,
    // date flag or format differs from what was last committed for it.
    bool hasUncommittedRenameChange(const FolderConfig& folder) const;
    // Replaces the folder's pending job (if any) by one with its current values, at the end of the
    // list, and commits those values. Nothing happens for an id that is not in `folders`.
    void commitRenameChange(const QUuid& folderID, const QList<FolderConfig>& folders);
    // The pending jobs, leaving none.
    QList<RetroRenameJob> takePendingJobs();
};

// The confirmation asked before a folder's files are renamed: button 0, "Rename Files", commits
// the change; button 1, "Cancel", does nothing.
ModalAlert renameConfirmation(const QString& folderName);

// The file's creation date, else the date its content last changed, as "yyyy-MM-dd" in local time;
// nothing when neither can be read.
std::optional<QString> fileDateString(const QString& path);

struct RetroRenameOptions {
    // Threads that decode and encode: 0 for one per core; 1 does everything on the calling thread.
    int threads = 0;
    // A file's date for its name; fileDateString when empty.
    std::function<std::optional<QString>(const QString& path)> dateOf;
    // Told of each path before a file is placed there, so the folder watch never takes it for new.
    OwnOutputs* ownOutputs = nullptr;
    // Once set, no further file is started; files not yet placed keep their names.
    const std::atomic<bool>* stop = nullptr;
    // Before each file, with its place in the folder's order (from 1) and the number of files.
    std::function<void(int current, int total)> progress;
};

struct RetroRenameResult {
    int total = 0;   // files that were to be renamed
    int renamed = 0; // of those, now under their new names
};

// Renames the PNG, JPEG and PDF files directly in `directory` to "<prefix>[_<date>]_<nnn>.<format>",
// each with the first free number, converting those whose extension does not already match (a
// "jpeg" file counts as "jpg"). Files are taken oldest first (by creation time, then name); the
// counter runs on over the whole folder, and a file that cannot be converted keeps its name but uses
// up its number. Never replaces a file; a process killed midway leaves every file under its old name
// or its new one. The result is the same for any number of threads.
RetroRenameResult renameExistingFiles(const QUrl& directory, const QString& prefix, bool includeDate,
                                      const QString& format, const RetroRenameOptions& options = {});

// Told about a run of jobs as it goes, on the thread that runs it.
struct RetroRenameObserver {
    std::function<void(const FolderConfig& folder, int current, int total)> progress;
    std::function<void(const FolderConfig& folder, const QUrl& directory, const RetroRenameResult& result)>
        finished;
};

// Runs `jobs` in order: each renames the files of the first folder in `folders` with its id, by the
// job's values, unless there is none or it is a standard folder.
void applyRetroRenames(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders,
                       const RetroRenameOptions& options = {}, const RetroRenameObserver& observer = {});

} // namespace quillary
