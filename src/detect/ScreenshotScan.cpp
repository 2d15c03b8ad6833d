#include "detect/ScreenshotScan.h"

#include "core/FileNames.h"
#include "detect/PngScreenCaptureFlag.h"
#include "imaging/PngChunks.h"

#include <algorithm>
#include <limits>

namespace quillary {
namespace {

constexpr qint64 creationSlackNs = 2'000'000'000;

// The earliest creation time that counts as new, saturated at the ends of the range: a start in the
// distant past or future does not fit in nanoseconds.
qint64 thresholdNs(const QDateTime& monitorStartedAt)
{
    constexpr qint64 nsPerMs = 1'000'000;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    const qint64 ms = monitorStartedAt.toMSecsSinceEpoch();
    if (ms > highest / nsPerMs)
        return highest;
    if (ms < (lowest + creationSlackNs) / nsPerMs)
        return lowest;
    return ms * nsPerMs - creationSlackNs;
}

bool isCreatedSinceThreshold(const DirectoryEntry& entry, qint64 threshold)
{
    // An unreadable creation date counts as the distant past.
    return entry.creationTimeNs && *entry.creationTimeNs >= threshold;
}

bool hasPngExtension(const QString& name)
{
    return name.endsWith(u".png", Qt::CaseInsensitive) && name.size() > 4;
}

bool isScreenshot(const QString& path, const DirectoryEntry& entry, const ScreenshotProbes& probes,
                  const ScreenshotToolNames& toolNames)
{
    // The name tests are free; the file is only read when the name says nothing.
    if (hasScreenshotNameMarker(entry.name) || toolNames.matches(entry.name))
        return true;
    return probes.screenCaptureFlag && probes.screenCaptureFlag(path).value_or(false);
}

} // namespace

bool hasScreenshotNameMarker(const QString& fileName)
{
    const QString name =
        fileName.normalized(QString::NormalizationForm_C).toLower().normalized(QString::NormalizationForm_C);
    return std::any_of(
        screenshotNameMarkers.begin(), screenshotNameMarkers.end(), [&](std::u16string_view marker) {
            return name.contains(QStringView(marker.data(), static_cast<qsizetype>(marker.size())));
        });
}

FileStamp FileStamp::of(const DirectoryEntry& entry)
{
    return {entry.device, entry.inode, entry.creationTimeNs, entry.modificationTimeNs};
}

bool SeenFiles::contains(const QString& path, const DirectoryEntry& entry) const
{
    if (ownOutputs && ownOutputs->contains(path))
        return true;
    const auto found = screenshots.constFind(path);
    return found != screenshots.cend() && *found == FileStamp::of(entry);
}

ScreenshotProbes ScreenshotProbes::fromFiles()
{
    return {&pngScreenCaptureFlag, &screenshotFileIsComplete};
}

ScanResult scanForNewScreenshots(const QString& folder, std::vector<DirectoryEntry> entries,
                                 const QDateTime& monitorStartedAt, SeenFiles& seen,
                                 const ScreenshotProbes& probes, const ScreenshotToolNames& toolNames)
{
    // Cheap tests first: extension and date come from the listing, so old files cost nothing more.
    const qint64 threshold = thresholdNs(monitorStartedAt);
    std::erase_if(entries, [&](const DirectoryEntry& entry) {
        return !hasPngExtension(entry.name) || !isCreatedSinceThreshold(entry, threshold);
    });
    // Files made within one tick of the file system's clock share a date; their names, which tools
    // make from the time or a counter, order them rather than the directory's own order.
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return *a.creationTimeNs != *b.creationTimeNs ? *a.creationTimeNs < *b.creationTimeNs
                                                      : a.name < b.name;
    });

    ScanResult result;
    for (const DirectoryEntry& entry : entries) {
        const QString path = joinPath(folder, entry.name);
        // A seen file would be skipped whatever its contents say, so it is not read again.
        if (seen.contains(path, entry) || !isScreenshot(path, entry, probes, toolNames))
            continue;
        if (!entry.size || *entry.size < 1 || (probes.isComplete && !probes.isComplete(path))) {
            result.hasUnfinished = true; // not marked: a later scan looks again
            continue;
        }
        result.accepted.append(path);
        seen.screenshots.insert(path, FileStamp::of(entry));
    }
    return result;
}

bool screenshotFileIsComplete(const QString& path)
{
    // Anything that is not (the start of) a PNG is taken as it is.
    const PngFileEnd end = pngFileEnd(path);
    return end == PngFileEnd::complete || end == PngFileEnd::notPng;
}

} // namespace quillary
