#pragma once

#include "handle/SourceFile.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace quillary {

// What happened to one move or conversion. Only `placed` and `sourceKept` put anything at the target;
// every other outcome leaves the source untouched, nothing at the target and no temporary file.
enum class PlaceResult {
    placed,             // the target holds the result and the source is gone
    sourceKept,         // the target holds the result of the file that was read, but the source name stays:
                        // it now stands for a newer file, or it could not be removed
    targetExists,       // something already lies at the target
    unreadable,         // the source is missing or cannot be read
    undecodable,        // the source does not decode whole, or is over the decoding caps
    unsupportedFormat,  // the format asked for is none of "png", "jpg" and "pdf"
    unwritable,         // the target's folder could not be written
    noSpace,            // the target's disk (or the process's file size limit) left no room for the file
    sourceNotRemovable, // a move could not take the file out of its folder, so nothing changed
    notRegularFile,     // the source is a symbolic link, a folder or a device: neither it nor what it
                        // points at is touched
};

// Whether the target now holds the result.
bool isPlaced(PlaceResult result);

// A short text saying why a move did not happen, such as "a file with that name already exists".
QString failureReason(PlaceResult result);

// Writes what is made of the source, read through `sourceFd`, to `output`. False when the source does
// not give a whole result or a write fails.
using ContentWriter = std::function<bool(int sourceFd, QIODevice& output)>;

class TemporaryFile;

// A move or conversion in two steps. The first (prepareMove, prepareWrite) opens the source once and,
// for a conversion, writes the result to a synced hidden temporary file in the target's folder. The
// second, commit, gives that file the target's name, never replacing anything, and then removes the
// source only if its name still stands for the file that was read. On any failure the source stays and
// no temporary file remains once this object is gone.
class PreparedPlacement final {
public:
    // A preparation that failed: commit reports `failure`.
    explicit PreparedPlacement(PlaceResult failure);
    PreparedPlacement(PreparedPlacement&&) noexcept;
    PreparedPlacement& operator=(PreparedPlacement&&) = delete;
    ~PreparedPlacement();

    // Puts the result at `target`, which lies in the folder given when preparing. After `targetExists`
    // it may be called again with another name; the prepared file is kept for that.
    PlaceResult commit(const QString& target);

private:
    friend PreparedPlacement prepareMove(const QString& source);
    friend PreparedPlacement prepareWrite(const QString& source, const QString& target,
                                          const ContentWriter& writer);
    PreparedPlacement(QString sourcePath, std::optional<SourceFile> source, bool isMove);
    PlaceResult copyAcross(const QString& target);

    std::optional<PlaceResult> m_failure;
    QString m_sourcePath;
    std::optional<SourceFile> m_source;
    bool m_isMove = false;                    // the file itself goes: renamed, or copied across filesystems
    std::unique_ptr<TemporaryFile> m_content; // the converted or copied file, once written
};

// The file moves as it is: within one filesystem by renaming, else by copying it into the target's
// folder at commit, after which the source must go or the copy is taken back.
PreparedPlacement prepareMove(const QString& source);

// The target gets what `writer` makes of the source; `target` names the folder the temporary file is
// written in. A source that cannot be removed after placing is left behind, not lost.
PreparedPlacement prepareWrite(const QString& source, const QString& target, const ContentWriter& writer);

// prepareMove followed by commit.
PlaceResult moveNoReplace(const QString& source, const QString& target);

// Where writeNewFile put its content, or why it did not.
struct NewFile {
    PlaceResult result =
        PlaceResult::unwritable; // `placed`, `targetExists` (every name taken) or `unwritable`
    QString path;                // the file written; empty unless placed
};

// Writes `content` to a new file in `folder` under the first name of nameFor(1), nameFor(2), …,
// nameFor(maxAttempts) that nothing has: a synced temporary file there is given that name without
// replacing anything. `beforePlacing` hears each path before it is tried (to register it as ours).
NewFile writeNewFile(const QString& folder, QByteArrayView content,
                     const std::function<QString(int attempt)>& nameFor, int maxAttempts,
                     const std::function<void(const QString& path)>& beforePlacing = {});

// Removes the temporary files a writer that was killed left in `folders`: only entries named as ours
// (".<name>.quillary-" and six letters or digits) that are regular files and that no live writer
// holds (each writer keeps an exclusive flock on its file for as long as it exists). Returns how many
// went.
int removeStaleTemporaryFiles(const QStringList& folders);

} // namespace quillary
