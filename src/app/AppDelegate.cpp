#include "app/AppDelegate.h"

#include "clipboard/ClipboardContent.h"
#include "clipboard/ClipboardWatcher.h"
#include "core/Diagnostics.h"
#include "core/Interaction.h"
#include "core/Preferences.h"
#include "core/Threading.h"
#include "detect/WatchController.h"
#include "folders/FolderStore.h"
#include "folders/QuickCreate.h"
#include "folders/StandardFolders.h"
#include "handle/CuePlayer.h"
#include "handle/RetroRenamer.h"
#include "handle/SafeFilePlacement.h"
#include "handle/ScreenshotDispatcher.h"
#include "platform/ClipboardSource.h"
#include "platform/LoginItemService.h"
#include "platform/TrayHostWatcher.h"
#include "ui/AppShell.h"
#include "ui/settings/SettingsHost.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

namespace quillary {
namespace {

QPointer<AppDelegate> sharedDelegate;

} // namespace

// The settings window's view of the delegate.
class AppDelegate::SettingsBridge final : public SettingsHost {
public:
    explicit SettingsBridge(AppDelegate& delegate)
        : m_delegate(delegate)
    {
    }
    QUrl currentWatchURL() const override { return m_delegate.currentWatchURL(); }
    WatchStatus watchStatus() const override { return m_delegate.watchStatus(); }
    bool isUsingCustomWatchFolder() const override { return m_delegate.isUsingCustomWatchFolder(); }
    void setCustomWatchFolder(const QUrl& folder) override { m_delegate.setCustomWatchFolder(folder); }
    void startWatching() override { m_delegate.startWatching(); }
    void setLaunchAtLogin(bool enabled) override { m_delegate.setLaunchAtLogin(enabled); }
    QString clipboardUnavailableReason() const override { return m_delegate.clipboard().unavailableReason(); }

private:
    AppDelegate& m_delegate;
};

AppDelegate* AppDelegate::shared()
{
    return sharedDelegate.data();
}

AppDelegate::AppDelegate(Preferences& store, AppServices services, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_services(std::move(services))
{
    registerDefaultSettings(m_store);
    m_folders = std::make_unique<FolderStore>(m_store);
    m_dispatcher = std::make_unique<ScreenshotDispatcher>(*m_folders, m_ownOutputs, m_services.cues.get());
    m_watch = std::make_unique<WatchController>(m_store, m_ownOutputs, m_services.screenshotFolder);
    m_shell = std::make_unique<AppShell>(*m_folders, std::move(m_services.trayHosts));
    m_settingsBridge = std::make_unique<SettingsBridge>(*this);
    m_shell->setSettingsServices(m_settingsBridge.get(), m_services.interaction.get());
    // Made now, so whatever is on the clipboard at launch counts as seen.
    m_clipboard = std::make_unique<ClipboardWatcher>(m_store, std::move(m_services.clipboard), m_ownOutputs);

    connect(m_watch.get(), &WatchController::screenshotsFound, m_dispatcher.get(),
            &ScreenshotDispatcher::handleNewScreenshots);
    connect(m_watch.get(), &WatchController::screenshotsFound, m_clipboard.get(),
            &ClipboardWatcher::noteDesktopScreenshot);
    connect(m_clipboard.get(), &ClipboardWatcher::toastRequested, this, &AppDelegate::showCopiedToast);
    connect(m_clipboard.get(), &ClipboardWatcher::cueRequested, this,
            [this] { playCue(QStringLiteral("Ping"), prefs::clipboardSoundLevel); });
    connect(m_watch.get(), &WatchController::permissionDenied, this, &AppDelegate::showPermissionAlert);
    connect(m_dispatcher.get(), &ScreenshotDispatcher::queueChanged, this, &AppDelegate::refreshStatusItem);
    connect(m_dispatcher.get(), &ScreenshotDispatcher::queueHeadChanged, this,
            [this] { showPopupForQueueHead(false); });

    AppShell* shell = m_shell.get();
    connect(shell, &AppShell::statusItemClicked, this, &AppDelegate::statusItemClicked);
    connect(shell, &AppShell::settingsRequested, this, &AppDelegate::openSettings);
    connect(shell, &AppShell::pauseToggleRequested, this, &AppDelegate::togglePauseFromMenu);
    connect(shell, &AppShell::pendingRequested, this, [this] { showPopupForQueueHead(true); });
    connect(shell, &AppShell::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(shell, &AppShell::cardMoveRequested, this, &AppDelegate::popupMove);
    connect(shell, &AppShell::cardDeleteRequested, this, &AppDelegate::popupDelete);
    connect(shell, &AppShell::cardQuickCreateRequested, this, &AppDelegate::quickCreateFolder);
    connect(shell, &AppShell::renamesRequested, this, &AppDelegate::applyRetroRenames);

    m_retroRenamer = std::make_unique<RetroRenamer>(&m_ownOutputs);
    connect(m_retroRenamer.get(), &RetroRenamer::activityChanged, shell, &AppShell::setStatusActivity);
}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::isPaused() const
{
    return m_store.boolValue(pauseKey);
}

void AppDelegate::applicationDidFinishLaunching()
{
    sharedDelegate = this;
    // A first launch gets the standard folders before any screenshot can be dispatched.
    m_folders->seedDefaults();
    // Leftovers of conversions that a crash or a power cut interrupted; only unlocked ones of ours go.
    QStringList destinations;
    for (const FolderConfig& folder : m_folders->folders())
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

void AppDelegate::startWatching()
{
    m_watch->startWatching();
}

QUrl AppDelegate::systemScreenshotLocation() const
{
    return m_watch->systemScreenshotLocation();
}

void AppDelegate::setCustomWatchFolder(const QUrl& folder)
{
    m_watch->setCustomWatchFolder(folder);
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

void AppDelegate::scanWatchedFolder(const QUrl& folder)
{
    m_watch->scanWatchedFolder(folder);
}

WatchStatus AppDelegate::watchStatus() const
{
    return m_watch->watchStatus();
}

const QUrl& AppDelegate::currentWatchURL() const
{
    return m_watch->currentWatchURL();
}

bool AppDelegate::isUsingCustomWatchFolder() const
{
    return m_watch->isUsingCustomWatchFolder();
}

// MARK: - Dispatch

bool AppDelegate::handleNewScreenshot(const QUrl& file)
{
    return m_dispatcher->handleNewScreenshot(file);
}

void AppDelegate::moveScreenshot(const QUrl& file, const FolderConfig& folder)
{
    m_dispatcher->moveScreenshot(file, folder);
}

void AppDelegate::popupMove(const QUrl& file, const QString& folderID)
{
    m_dispatcher->popupMove(file, folderID);
}

void AppDelegate::popupDelete(const QUrl& file)
{
    m_dispatcher->popupDelete(file);
}

void AppDelegate::quickCreateFolder()
{
    if (m_services.interaction)
        quillary::quickCreateFolder(*m_folders, *m_services.interaction);
}

void AppDelegate::playCue(const QString& soundName, const PreferenceKey& levelKey)
{
    m_dispatcher->playCue(soundName, levelKey);
}

void AppDelegate::waitForMoves()
{
    m_dispatcher->waitForMoves();
}

bool AppDelegate::finishMovesBeforeQuit(int msecs)
{
    return m_dispatcher->finishMovesBeforeQuit(msecs);
}

const QList<QUrl>& AppDelegate::screenshotQueue() const
{
    return m_dispatcher->screenshotQueue();
}

// MARK: - Status item and menu

void AppDelegate::setupStatusItem()
{
    m_shell->setupStatusItem(isPaused());
    refreshStatusItem();
}

void AppDelegate::statusItemClicked()
{
    // Right clicks open the menu through the tray itself; this is the left click.
    if (screenshotQueue().isEmpty())
        m_shell->showStatusMenu();
    else
        showPopupForQueueHead(true);
}

void AppDelegate::togglePauseFromMenu()
{
    const bool wasPaused = isPaused();
    m_store.setBool(pauseKey, !wasPaused);
    if (!wasPaused) {
        // The queued screenshots stay where they are on disk; they are only forgotten here.
        m_dispatcher->clearScreenshotQueue();
        scheduleClosePopup();
    }
    refreshStatusItem();
    refreshPauseMenuItem();
}

void AppDelegate::setPaused(bool paused)
{
    if (paused != isPaused())
        togglePauseFromMenu();
}

void AppDelegate::openSettings()
{
    showSettingsWindow();
}

void AppDelegate::refreshStatusItem()
{
    m_shell->refreshStatusItem(int(screenshotQueue().size()));
}

void AppDelegate::refreshPauseMenuItem()
{
    m_shell->refreshPauseMenuItem(isPaused());
}

void AppDelegate::showSettingsWindow()
{
    m_shell->showSettingsWindow(isPaused());
}

void AppDelegate::applyRetroRenames(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders)
{
    // Copies: the run goes on in the background whatever happens to the window or the list.
    m_retroRenamer->start(jobs, folders);
}

void AppDelegate::setLaunchAtLogin(bool enabled)
{
    LoginItemService* loginItems = m_services.loginItems.get();
    if (!loginItems)
        return;
    if (const std::optional<QString> error =
            enabled ? loginItems->registerApp() : loginItems->unregisterApp())
        printLine(QStringLiteral("❌ LaunchAtLogin Error: ") + *error);
}

// MARK: - The quick-move card

void AppDelegate::showPopupForQueueHead(bool fromStatusItemClick)
{
    if (isPaused())
        return;
    pruneScreenshotQueue();
    if (screenshotQueue().isEmpty()) {
        scheduleClosePopup();
        return;
    }
    m_shell->showCard(screenshotQueue().first(), int(screenshotQueue().size()), fromStatusItemClick);
    refreshStatusItem();
}

void AppDelegate::scheduleClosePopup()
{
    // Deferred, so a close asked for inside a button's action runs after that action returns.
    postTo(this, [this] { closePopup(); });
}

void AppDelegate::closePopup()
{
    m_shell->closeCard();
    refreshStatusItem();
}

void AppDelegate::pruneScreenshotQueue()
{
    m_dispatcher->pruneScreenshotQueue();
}

// MARK: - The toast and the clipboard

void AppDelegate::showCopiedToast()
{
    m_shell->showCopiedToast();
}

void AppDelegate::startPasteboardTimer()
{
    m_clipboard->startPasteboardTimer();
}

void AppDelegate::checkPasteboard()
{
    m_clipboard->checkPasteboard();
}

void AppDelegate::saveClipboardImage(const QByteArray& encodedImage)
{
    m_clipboard->saveClipboardImage(encodedImage,
                                    clipboardFolderPath(m_store.textValue(prefs::clipboardSyncFolder)));
}

void AppDelegate::forgetLastClipboardImage()
{
    m_clipboard->forgetLastClipboardImage();
}

} // namespace quillary
