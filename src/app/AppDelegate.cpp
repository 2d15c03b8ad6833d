#include "app/AppDelegate.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"
#include "core/Interaction.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "detect/FolderMonitor.h"
#include "detect/MissingFolderWatch.h"
#include "detect/ScreenshotScan.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "handle/CuePlayer.h"
#include "handle/NamingRule.h"
#include "handle/SafeFilePlacement.h"
#include "platform/DirectoryListing.h"
#include "platform/FolderBookmark.h"
#include "platform/LoginItemService.h"
#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace quillary {
namespace {

QPointer<AppDelegate> sharedDelegate;

// The access probe: whether the folder can be listed. The listing itself is not needed.
bool canListDirectory(const QString& path)
{
    std::error_code error;
    std::filesystem::directory_iterator probe(std::filesystem::path(toNativePath(path).toStdString()), error);
    return !error;
}

// The global renaming options as one rule; it applies when it is on.
NamingRule globalNamingRule(const Preferences& store)
{
    return NamingRule{
        .isRenamingEnabled = store.boolValue(prefs::isGlobalRenamingEnabled),
        .prefix = store.textValue(prefs::globalNamingPrefix),
        .includeDate = store.boolValue(prefs::globalIncludeDate),
        .fileFormat = store.textValue(prefs::globalFileFormat),
    };
}

} // namespace

AppDelegate* AppDelegate::shared()
{
    return sharedDelegate.data();
}

AppDelegate::AppDelegate(Preferences& store, AppServices services, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_services(std::move(services))
    , m_scanScheduler([this](const QUrl& folder) { scanWatchedFolder(folder); },
                      [this] { return isPaused(); })
{
    registerDefaultSettings(m_store);
    connect(&m_mover, &ScreenshotMover::moveFinished, this,
            [this](const QString& source, const QString& target, PlaceResult result) {
                // Our own output, under the name it finally got, is never taken for a new screenshot.
                if (isPlaced(result))
                    m_seen.ownOutputs.insert(target);
                else
                    printLine(QStringLiteral("❌ Move failed: ") + source + QStringLiteral(" → ") + target +
                              QStringLiteral(": ") + failureReason(result));
            });
}

AppDelegate::~AppDelegate()
{
    // Stop the monitor's thread while every member it may reach is still alive.
    stopWatching();
}

bool AppDelegate::isPaused() const
{
    return m_store.boolValue(pauseKey);
}

void AppDelegate::applicationDidFinishLaunching()
{
    sharedDelegate = this;
    // A first launch gets the standard folders before any screenshot can be dispatched.
    seedDefaultFolders(m_store);
    // Leftovers of conversions that a crash or a power cut interrupted; only unlocked ones of ours go.
    QStringList destinations;
    for (const FolderConfig& folder : loadSavedFolders(m_store))
        destinations.append(configDirectoryURL(folder).toLocalFile());
    removeStaleTemporaryFiles(destinations);
    setupStatusItem();
    startWatching();
    startPasteboardTimer();

    // Launch never unregisters: turning the preference off is the settings window's job.
    LoginItemService* loginItems = m_services.loginItems.get();
    if (m_store.boolValue(prefs::launchAtLogin) && loginItems &&
        loginItems->status() != LoginItemService::Status::enabled) {
        (void)loginItems->registerApp(); // a failure is retried at the next launch
    }
}

// MARK: - Which folder is watched

void AppDelegate::stopWatching()
{
    if (m_monitor)
        m_monitor->cancel();
    m_monitor.reset();
    m_missingFolderWatch.reset();
    if (!m_securityScopedURL.isEmpty())
        stopAccessingSecurityScopedResource(m_securityScopedURL);
    m_securityScopedURL.clear();
    m_isUsingCustomWatchFolder = false;
}

void AppDelegate::startWatching()
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
            if (startAccessingSecurityScopedResource(resolved->folder))
                m_securityScopedURL = resolved->folder;
            folder = resolved->folder;
            m_isUsingCustomWatchFolder = true;
        }
    }
    if (folder.isEmpty())
        folder = systemScreenshotLocation();

    m_currentWatchURL = folder;
    // Events of the previous watch still on their way must not send scans to its folder.
    m_scanScheduler.watch(folder);
    m_monitorStartedAt = QDateTime::currentDateTimeUtc();
    const QString path = folder.toLocalFile();
    m_watchStatus = canListDirectory(path) ? WatchStatus::active : WatchStatus::noAccess;
    startMonitor(folder);

    NotificationCenter::defaultCenter().postWatchStateChanged();
    printLine(QStringLiteral("📍 Quillary: Watching ") + path + QStringLiteral(" — access: ") +
              (m_watchStatus == WatchStatus::active ? QStringLiteral("OK ✅") : QStringLiteral("DENIED ❌")));
}

void AppDelegate::startMonitor(const QUrl& folder)
{
    m_monitor = std::make_unique<FolderMonitor>(folder);
    QPointer<AppDelegate> weakSelf(this);
    m_monitor->onFolderChanged = [weakSelf, folder] {
        // Called on the monitor's thread. The monitor is stopped before the delegate goes away.
        if (AppDelegate* self = weakSelf.data())
            self->handleFolderChange(folder);
    };
    m_monitor->onPermissionDenied = [weakSelf, folder] {
        if (AppDelegate* self = weakSelf.data())
            self->handlePermissionDenied(folder);
    };
    m_monitor->onFolderGone = [weakSelf, folder] {
        if (AppDelegate* self = weakSelf.data())
            self->handleFolderGone(folder);
    };
    m_monitor->start();
}

QUrl AppDelegate::systemScreenshotLocation() const
{
    QString folder = m_services.screenshotFolder ? m_services.screenshotFolder() : QString();
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/Desktop");
    // The screenshot tool would create it on first use; the watch needs it now.
    QDir().mkpath(folder);
    return QUrl::fromLocalFile(QDir::cleanPath(folder));
}

void AppDelegate::setCustomWatchFolder(const QUrl& folder)
{
    if (const auto bookmark = createFolderBookmark(folder))
        m_store.setData(prefs::folderBookmark, *bookmark);
    startWatching();
}

void AppDelegate::handlePermissionDenied(const QUrl& folder)
{
    m_watchStatus = WatchStatus::noAccess;
    NotificationCenter::defaultCenter().postWatchStateChanged();
    showPermissionAlert(folder);
}

void AppDelegate::handleFolderGone(const QUrl& folder)
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
    QPointer<AppDelegate> weakSelf(this);
    m_missingFolderWatch->onAppeared = [weakSelf, folder] {
        if (AppDelegate* self = weakSelf.data())
            self->handleFolderBack(folder);
    };
    m_missingFolderWatch->start();
}

void AppDelegate::handleFolderBack(const QUrl& folder)
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

void AppDelegate::showPermissionAlert(const QUrl& folder)
{
    if (!m_services.interaction)
        return;
    const QString name = QFileInfo(folder.toLocalFile()).fileName();
    const ModalAlert alert{
        QStringLiteral("Permission Required"),
        QStringLiteral("Quillary needs access to your ") + name +
            QStringLiteral(
                " folder to monitor for screenshots.\n\nPlease ensure Quillary has 'Files and Folders' "
                "access in System Settings > Privacy & Security."),
        {QStringLiteral("Open System Settings"), QStringLiteral("Dismiss")},
    };
    // There is no privacy pane to open here; the folder's parent is where its permissions are fixed.
    if (m_services.interaction->runModal(alert) == 0)
        m_services.interaction->openUrl(QUrl::fromLocalFile(QFileInfo(folder.toLocalFile()).absolutePath()));
}

// MARK: - Recognising new screenshots

void AppDelegate::handleFolderChange(const QUrl& folder)
{
    // Runs on the monitor's thread. The pause test is made now, when the event arrives.
    if (isPaused())
        return;
    QMetaObject::invokeMethod(
        this, [this, folder] { m_scanScheduler.folderChanged(folder); }, Qt::QueuedConnection);
}

QSet<QString> AppDelegate::seenScreenshotPaths() const
{
    QSet<QString> paths = m_seen.ownOutputs;
    for (auto it = m_seen.screenshots.cbegin(); it != m_seen.screenshots.cend(); ++it)
        paths.insert(it.key());
    return paths;
}

void AppDelegate::scanWatchedFolder(const QUrl& folder)
{
    const QString path = folder.toLocalFile();
    DirectoryListing listing = listPngFiles(path);
    if (!listing.ok) {
        printLine(QStringLiteral("❌ Monitor Error: ") + listing.errorDescription);
        return;
    }
    const ScanResult result = scanForNewScreenshots(path, std::move(listing.entries), m_monitorStartedAt,
                                                    m_seen, ScreenshotProbes::fromFiles());
    bool queuedAny = false;
    for (const QString& file : result.accepted) {
        queuedAny = handleNewScreenshot(QUrl::fromLocalFile(file)) || queuedAny;
    }
    if (queuedAny)
        startPopupForScan();
    m_scanScheduler.scanFinished(result.hasUnfinished);
}

// MARK: - Dispatch

bool AppDelegate::handleNewScreenshot(const QUrl& file)
{
    // "showPopup" wins when both modes are on.
    if (m_store.boolValue(prefs::showPopup)) {
        m_screenshotQueue.append(file);
        return true;
    }
    if (m_store.boolValue(prefs::autoMove)) {
        if (const auto folder = findSavedFolder(m_store, m_store.textValue(prefs::selectedFolderID)))
            moveScreenshot(file, *folder);
    }
    return false;
}

void AppDelegate::startPopupForScan()
{
    refreshStatusItem();
    if (m_store.boolValue(prefs::popupSoundEnabled))
        playCue(QStringLiteral("Glass"), prefs::popupSoundLevel);
    showPopupForQueueHead(false);
}

void AppDelegate::moveScreenshot(const QUrl& file, const FolderConfig& folder)
{
    const std::optional<QString> renamedTo =
        m_mover.moveScreenshot(file.toLocalFile(), configDirectoryURL(folder),
                               effectiveNamingRule(folder, globalNamingRule(m_store)));
    // Our own output must never be taken for a new screenshot.
    if (renamedTo)
        m_seen.ownOutputs.insert(*renamedTo);
}

void AppDelegate::popupMove(const QUrl& file, const QString& folderID)
{
    if (const auto folder = findSavedFolder(m_store, folderID))
        moveScreenshot(file, *folder);
    advanceQueue();
}

void AppDelegate::popupDelete(const QUrl& file)
{
    (void)moveToTrash(file.toLocalFile()); // a file that cannot be trashed stays where it is
    advanceQueue();
}

void AppDelegate::advanceQueue()
{
    if (!m_screenshotQueue.isEmpty())
        m_screenshotQueue.removeFirst();
    refreshStatusItem();
    showPopupForQueueHead(false);
}

void AppDelegate::quickCreateFolder()
{
    Interaction* interaction = m_services.interaction.get();
    if (!interaction)
        return;
    if (!m_store.boolValue(prefs::quickCreateEnabled)) {
        interaction->beep();
        return;
    }
    const QString baseName = m_store.textValue(prefs::quickCreateBaseFolder);
    const ModalAlert alert{QStringLiteral("Create Folder"),
                           QStringLiteral("Enter a folder name to create inside ") + baseName + u'.',
                           {QStringLiteral("Save"), QStringLiteral("Cancel")}};
    const std::optional<QString> typed = interaction->runTextPrompt(alert, QStringLiteral("Folder name"));
    if (!typed)
        return;
    const QString name = safeFileNameComponent(typed->trimmed());
    if (name.isEmpty())
        return;

    const QString directory = QDir(standardDirectoryURL(baseName).toLocalFile()).filePath(name);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(directory).toStdString()),
                                        error);
    if (error) {
        printLine(QStringLiteral("❌ Create folder failed: ") + QString::fromStdString(error.message()));
        interaction->beep();
        return;
    }
    if (registerQuickCreatedFolder(m_store, name, baseName) == QuickCreateRegistration::duplicate)
        interaction->beep();
}

void AppDelegate::playCue(const QString& soundName, const PreferenceKey& levelKey)
{
    if (m_services.cues)
        m_services.cues->playCue(soundName, m_store.textValue(levelKey));
}

void AppDelegate::waitForMoves()
{
    m_mover.waitForDone();
    QCoreApplication::sendPostedEvents(&m_mover);
}

bool AppDelegate::finishMovesBeforeQuit(int msecs)
{
    const bool done = m_mover.finishCurrentAndDropPending(msecs);
    QCoreApplication::sendPostedEvents(&m_mover);
    return done;
}

} // namespace quillary
