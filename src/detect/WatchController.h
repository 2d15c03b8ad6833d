#pragma once

#include "core/WatchStatus.h"
#include "detect/ScanScheduler.h"
#include "detect/ScreenshotScan.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace quillary {

class FolderMonitor;
class MissingFolderWatch;
class OwnOutputs;
class Preferences;

// Which folder is watched, and what is new in it: resolves the folder (the user's pick, else where
// the screenshot tool saves), keeps the watch on it through permission refusals and the folder
// going away and coming back, schedules the scans and remembers what they took. Main thread only,
// apart from `handleFolderChange`.
class WatchController final : public QObject {
    Q_OBJECT

public:
    // Where the desktop's screenshot tool saves; empty means the user's Desktop.
    using ScreenshotFolderLookup = std::function<QString()>;
    // The names the screenshot tools saving into a folder give their files (see screenshotToolNames);
    // none given means the session's own tools.
    using ToolNamesLookup = std::function<ScreenshotToolNames(const QString& folder)>;

    WatchController(Preferences& store, const OwnOutputs& ownOutputs, ScreenshotFolderLookup screenshotFolder,
                    QObject* parent = nullptr, ToolNamesLookup toolNames = {});
    ~WatchController() override;

    // Replaces any watch with one on the bookmarked folder or, failing that, the system location;
    // probes access, posts the watch-state change and prints the folder watched.
    void startWatching();
    QUrl systemScreenshotLocation() const;
    void setCustomWatchFolder(const QUrl& folder);
    void handlePermissionDenied(const QUrl& folder);
    // The watched folder went away: wait for it to come back, then watch it again and scan.
    void handleFolderGone(const QUrl& folder);
    // From the monitor's thread: schedules a scan unless paused.
    void handleFolderChange(const QUrl& folder);
    void scanWatchedFolder(const QUrl& folder);

    WatchStatus watchStatus() const { return m_watchStatus; }
    const QUrl& currentWatchURL() const { return m_currentWatchURL; }
    bool isUsingCustomWatchFolder() const { return m_isUsingCustomWatchFolder; }
    const QDateTime& monitorStartedAt() const { return m_monitorStartedAt; }
    const FolderMonitor* monitor() const { return m_monitor.get(); }
    // Paths the scan took and will not take again unless another file is put there.
    QStringList seenScreenshotPaths() const { return m_seen.screenshots.keys(); }

signals:
    // The new screenshots of one scan, oldest first.
    void screenshotsFound(const QStringList& paths);
    // Access to `folder` was refused; the watch status is already `noAccess`.
    void permissionDenied(const QUrl& folder);

private:
    bool isPaused() const;
    void stopWatching();
    void startMonitor(const QUrl& folder);
    void handleFolderBack(const QUrl& folder);

    Preferences& m_store;
    ScreenshotFolderLookup m_screenshotFolder;
    ToolNamesLookup m_toolNames;
    WatchStatus m_watchStatus = WatchStatus::notStarted;
    QUrl m_currentWatchURL;
    bool m_isUsingCustomWatchFolder = false;
    // The names the tools saving into the current folder give their screenshots.
    ScreenshotToolNames m_currentToolNames;
    QDateTime m_monitorStartedAt = distantFuture();
    std::unique_ptr<FolderMonitor> m_monitor;
    // Set while the watched folder is gone.
    std::unique_ptr<MissingFolderWatch> m_missingFolderWatch;
    SeenFiles m_seen;
    ScanScheduler m_scanScheduler;
};

} // namespace quillary
