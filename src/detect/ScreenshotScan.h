#pragma once

#include "core/OwnOutputs.h"
#include "platform/DirectoryListing.h"
#include "platform/ScreenshotToolNames.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <string_view>

namespace quillary {

// Lower-case substrings that mark a file name as a screenshot's, in the order they are searched.
inline constexpr std::array<std::u16string_view, 10> screenshotNameMarkers{
    u"screenshot", u"screen shot", u"captur", u"bildschirm", u"scherm",
    u"skjerm",     u"skärm",       u"ekran",  u"kapture",    u"capture",
};

// Whether the name, lower-cased, contains a marker; canonically equivalent spellings match alike.
bool hasScreenshotNameMarker(const QString& fileName);

// What the scan may ask of a file beyond its listing; replaceable in tests.
struct ScreenshotProbes {
    // Whether the file says it is a screen capture: true, false, or no value.
    std::function<std::optional<bool>(const QString& path)> screenCaptureFlag;
    // Whether the file is finished: false for a PNG whose end has not been written yet.
    std::function<bool(const QString& path)> isComplete;

    static ScreenshotProbes fromFiles();
};

// One file as the scan remembers it. A file at a path is the one taken before only while all of
// this matches: a file put in its place (even on a reused inode number) has another birth time, and
// a file rewritten in place another modification time, so both count as new screenshots.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<qint64> creationTimeNs;
    std::optional<qint64> modificationTimeNs;

    static FileStamp of(const DirectoryEntry& entry);
    bool operator==(const FileStamp&) const = default;
};

// What the scan does not hand on (again).
struct SeenFiles {
    // Path → the file last taken from it.
    QHash<QString, FileStamp> screenshots;
    // Quillary's own outputs, registered before they exist: never taken, whatever file is there.
    const OwnOutputs* ownOutputs = nullptr;

    bool contains(const QString& path, const DirectoryEntry& entry) const;
};

struct ScanResult {
    QStringList accepted;       // paths to hand on, oldest first
    bool hasUnfinished = false; // a new screenshot was skipped because it is empty or still being written
};

// Decides which listed files are new screenshots: candidates, oldest first (stable for equal
// dates), minus those in `seen` and those not finished yet. The accepted ones are added to `seen`.
// A candidate's name has a marker, or is one that `toolNames` (the folder's own tools) give, or the
// file says it is a screen capture.
ScanResult scanForNewScreenshots(const QString& folder, std::vector<DirectoryEntry> entries,
                                 const QDateTime& monitorStartedAt, SeenFiles& seen,
                                 const ScreenshotProbes& probes, const ScreenshotToolNames& toolNames = {});

// A PNG is finished once its chunks lead to IEND (see pngFileEnd); files that are not PNGs count as
// finished. Opened by the path's native name.
bool screenshotFileIsComplete(const QString& path);

} // namespace quillary
