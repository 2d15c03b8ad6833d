#pragma once

#include "platform/DirectoryListing.h"

#include <QDateTime>
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

// Whether the listed file is a screenshot made since the watch started: a PNG created at or after
// `monitorStartedAt` minus 2 s whose name carries a marker or which says it is a screen capture.
bool isScreenshotCandidate(const QString& folder, const DirectoryEntry& entry,
                           const QDateTime& monitorStartedAt, const ScreenshotProbes& probes);

struct ScanResult {
    QStringList accepted;       // paths to hand on, oldest first
    bool hasUnfinished = false; // a new screenshot was skipped because it is empty or still being written
};

// Decides which listed files are new screenshots: candidates, oldest first (stable for equal
// dates), minus those in `seen` and those not finished yet. `seen` is not changed.
ScanResult scanForNewScreenshots(const QString& folder, std::vector<DirectoryEntry> entries,
                                 const QDateTime& monitorStartedAt, const QSet<QString>& seen,
                                 const ScreenshotProbes& probes);

// A PNG is finished when it ends with its IEND chunk; files that are not PNGs count as finished.
bool screenshotFileIsComplete(const QString& path);

} // namespace quillary
