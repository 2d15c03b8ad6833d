#include "detect/WatchController.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "core/Threading.h"
#include "detect/FolderMonitor.h"
#include "detect/MissingFolderWatch.h"
#include "platform/DirectoryListing.h"
#include "platform/FolderBookmark.h"
#include "platform/ScreenshotLocation.h"
#include "platform/UserDirectories.h"

#include <QDir>
#include <QPointer>

#include <filesystem>

namespace quillary {
namespace {

// The access probe: whether the folder can be listed. The listing itself is not needed.
bool canListDirectory(const QString& path)
{
    std::error_code error;
    std::filesystem::directory_iterator probe(std::filesystem::path(toNativePath(path).toStdString()), error);
    return !error;
}

QString accessText(WatchStatus status)
{
    return status == WatchStatus::active ? QStringLiteral("OK ✅") : QStringLiteral("DENIED ❌");
}

} // namespace

WatchController::WatchController(Preferences& store, const OwnOutputs& ownOutputs,
                                 ScreenshotFolderLookup screenshotFolder, QObject* parent, ToolNamesLookup toolNames)
    : QObject(parent)
    , m_store(store)
    , m_screenshotFolder(std::move(screenshotFolder))
    , m_toolNames(toolNames ? std::move(toolNames) : [](const QString& folder) {
        return screenshotToolNames(folder, ScreenshotLocationEnvironment::fromProcess());
    })
    , m_scanScheduler([this](const QUrl& folder) { scanWatchedFolder(folder); },
                      [this] { return isPaused(); })
{
    m_seen.ownOutputs = &ownOutputs;
}

WatchController::~WatchController()
{
    // Stop the monitor's thread while every member it may reach is still alive.
    stopWatching();
}

bool WatchController::isPaused() const
{
    return m_store.boolValue(prefs::isPaused);
}

void WatchController::stopWatching()
{
    if (m_monitor)
        m_monitor->cancel();
    m_monitor.reset();
    m_missingFolderWatch.reset();
    m_isUsingCustomWatchFolder = false;
}

void WatchController::startWatching()
{
    stopWatching();

    QUrl folder;
    if (const std::optional<QByteArray> bookmark = m_store.dataValue(prefs::folderBookmark)) {
        // A bookmark that no longer resolves stays stored and is tried again at the next start.
        if (const auto resolved = resolveFolderBookmark(*bookmark)) {
            if (resolved->isStale) {
                if (const auto fresh = createFolderBookmark(resolved->folder))
                    m_store.setData(prefs::folderBookmark, *fresh);
            }
            folder = resolved->folder;
            m_isUsingCustomWatchFolder = true;
        }
    }
    if (folder.isEmpty())
        folder = systemScreenshotLocation();

    m_currentWatchURL = folder;
    m_currentToolNames = m_toolNames(folder.toLocalFile());
    // Events of the previous watch still on their way must not send scans to its folder.
    m_scanScheduler.watch(folder);
    m_monitorStartedAt = QDateTime::currentDateTimeUtc();
    const QString path = folder.toLocalFile();
    m_watchStatus = canListDirectory(path) ? WatchStatus::active : WatchStatus::noAccess;
    startMonitor(folder);

    NotificationCenter::defaultCenter().postWatchStateChanged();
    printLine(QStringLiteral("📍 Quillary: Watching ") + path + QStringLiteral(" — access: ") +
              accessText(m_watchStatus));
}

void WatchController::startMonitor(const QUrl& folder)
{
    m_monitor = std::make_unique<FolderMonitor>(folder);
    // The monitor is stopped before this controller goes away; the weak pointers cover callbacks
    // already queued to the main thread by then.
    QPointer<WatchController> weakSelf(this);
    m_monitor->onFolderChanged = [this, folder] { handleFolderChange(folder); };
    m_monitor->onPermissionDenied = [weakSelf, folder] {
        if (WatchController* self = weakSelf.data())
            self->handlePermissionDenied(folder);
    };
    m_monitor->onFolderGone = [weakSelf, folder] {
        if (WatchController* self = weakSelf.data())
            self->handleFolderGone(folder);
    };
    m_monitor->start();
}

QUrl WatchController::systemScreenshotLocation() const
{
    QString folder = m_screenshotFolder ? m_screenshotFolder() : QString();
    if (folder.isEmpty())
        folder = userDirectory(UserDirectory::desktop);
    // The screenshot tool would create it on first use; the watch needs it now.
    QDir().mkpath(folder);
    return QUrl::fromLocalFile(QDir::cleanPath(folder));
}

void WatchController::setCustomWatchFolder(const QUrl& folder)
{
    if (const auto bookmark = createFolderBookmark(folder))
        m_store.setData(prefs::folderBookmark, *bookmark);
    startWatching();
}

void WatchController::handlePermissionDenied(const QUrl& folder)
{
    m_watchStatus = WatchStatus::noAccess;
    NotificationCenter::defaultCenter().postWatchStateChanged();
    emit permissionDenied(folder);
}

void WatchController::handleFolderGone(const QUrl& folder)
{
    if (folder != m_currentWatchURL || m_missingFolderWatch)
        return; // an earlier watch, or already waiting
    m_monitor.reset();
    m_scanScheduler.watch(QUrl()); // a scan due now would only find the folder missing
    m_watchStatus = WatchStatus::noAccess;
    NotificationCenter::defaultCenter().postWatchStateChanged();
    const QString path = folder.toLocalFile();
    printLine(QStringLiteral("⚠️ Quillary: The watched folder ") + path +
              QStringLiteral(" is gone; waiting for it to come back"));

    m_missingFolderWatch = std::make_unique<MissingFolderWatch>(path);
    QPointer<WatchController> weakSelf(this);
    m_missingFolderWatch->onAppeared = [weakSelf, folder] {
        if (WatchController* self = weakSelf.data())
            self->handleFolderBack(folder);
    };
    m_missingFolderWatch->start();
}

void WatchController::handleFolderBack(const QUrl& folder)
{
    if (folder != m_currentWatchURL || !m_missingFolderWatch)
        return;
    m_missingFolderWatch.reset();
    m_scanScheduler.watch(folder);
    const QString path = folder.toLocalFile();
    m_watchStatus = canListDirectory(path) ? WatchStatus::active : WatchStatus::noAccess;
    startMonitor(folder);
    NotificationCenter::defaultCenter().postWatchStateChanged();
    printLine(QStringLiteral("📍 Quillary: The watched folder ") + path +
              QStringLiteral(" is back; watching again"));
    // Whatever was saved into it before the watch was armed again has made no event.
    if (!isPaused())
        scanWatchedFolder(folder);
}

void WatchController::handleFolderChange(const QUrl& folder)
{
    // Runs on the monitor's thread. The pause test is made now, when the event arrives.
    if (isPaused())
        return;
    postTo(this, [this, folder] { m_scanScheduler.folderChanged(folder); });
}

void WatchController::scanWatchedFolder(const QUrl& folder)
{
    const QString path = folder.toLocalFile();
    DirectoryListing listing = listPngFiles(path);
    if (!listing.ok) {
        printLine(QStringLiteral("❌ Monitor Error: ") + listing.errorDescription);
        return;
    }
    const ScanResult result = scanForNewScreenshots(
        path, std::move(listing.entries), m_monitorStartedAt, m_seen, ScreenshotProbes::fromFiles(),
        folder == m_currentWatchURL ? m_currentToolNames : ScreenshotToolNames());
    if (!result.accepted.isEmpty())
        emit screenshotsFound(result.accepted);
    m_scanScheduler.scanFinished(result.hasUnfinished);
}

} // namespace quillary
