#include "detect/ScreenshotScan.h"

#include "detect/PngScreenCaptureFlag.h"

#include <QFile>

#include <algorithm>

namespace quillary {
namespace {

constexpr qint64 creationSlackNs = 2'000'000'000;

qint64 thresholdNs(const QDateTime& monitorStartedAt)
{
    return monitorStartedAt.toMSecsSinceEpoch() * 1'000'000 - creationSlackNs;
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

bool isScreenshot(const QString& path, const DirectoryEntry& entry, const ScreenshotProbes& probes)
{
    // The name test is free; the file is only read when the name says nothing.
    if (hasScreenshotNameMarker(entry.name))
        return true;
    return probes.screenCaptureFlag && probes.screenCaptureFlag(path).value_or(false);
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
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

ScreenshotProbes ScreenshotProbes::fromFiles()
{
    return {&pngScreenCaptureFlag, &screenshotFileIsComplete};
}

bool isScreenshotCandidate(const QString& folder, const DirectoryEntry& entry,
                           const QDateTime& monitorStartedAt, const ScreenshotProbes& probes)
{
    return hasPngExtension(entry.name) && isCreatedSinceThreshold(entry, thresholdNs(monitorStartedAt)) &&
           isScreenshot(joinPath(folder, entry.name), entry, probes);
}

ScanResult scanForNewScreenshots(const QString& folder, std::vector<DirectoryEntry> entries,
                                 const QDateTime& monitorStartedAt, const QSet<QString>& seen,
                                 const ScreenshotProbes& probes)
{
    // Cheap tests first: extension and date come from the listing, so old files cost nothing more.
    const qint64 threshold = thresholdNs(monitorStartedAt);
    std::erase_if(entries, [&](const DirectoryEntry& entry) {
        return !hasPngExtension(entry.name) || !isCreatedSinceThreshold(entry, threshold);
    });
    std::stable_sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return *a.creationTimeNs < *b.creationTimeNs;
    });

    ScanResult result;
    for (const DirectoryEntry& entry : entries) {
        const QString path = joinPath(folder, entry.name);
        // A seen path would be skipped whatever its contents say, so it is not read again.
        if (seen.contains(path) || !isScreenshot(path, entry, probes))
            continue;
        if (!entry.size || *entry.size < 1 || (probes.isComplete && !probes.isComplete(path))) {
            result.hasUnfinished = true; // not marked: a later scan looks again
            continue;
        }
        result.accepted.append(path);
    }
    return result;
}

bool screenshotFileIsComplete(const QString& path)
{
    static constexpr char signature[] = "\x89PNG\r\n\x1a\n";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    file.close();
    // Anything that is not (the start of) a PNG is taken as it is.
    if (!QByteArray::fromRawData(signature, 8).startsWith(head))
        return true;
    return head.size() == 8 && pngEndsWithIEND(path);
}

} // namespace quillary
