#pragma once

#include "core/PreferenceKeys.h"
#include "core/WatchStatus.h"
#include "detect/ScanScheduler.h"
#include "detect/ScreenshotScan.h"
#include "handle/ScreenshotMover.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace quillary {

class CopiedToast;
class CuePlayer;
class QuickMovePanel;
class SettingsWindow;
class StatusItem;
class TrayHostWatcher;
class FolderMonitor;
class MissingFolderWatch;
class Interaction;
struct FolderConfig;
class LoginItemService;
class Preferences;

// The services of the user's session that the delegate calls out to; tests replace them.
struct AppServices {
    AppServices();
    ~AppServices();
    AppServices(AppServices&&) noexcept;
    AppServices& operator=(AppServices&&) noexcept;

    std::unique_ptr<LoginItemService> loginItems;
    std::unique_ptr<Interaction> interaction;
    std::unique_ptr<CuePlayer> cues;
    // Tells when a tray host is there; without one there is no tray icon.
    std::unique_ptr<TrayHostWatcher> trayHosts;
    // Where the desktop's screenshot tool saves (an absolute path; the home Desktop at worst).
    std::function<QString()> screenshotFolder;

    static AppServices createDefault();
};

// Owns the run-time state of the application and wires the units together. Lives on the main
// thread from launch to exit.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // The running delegate, set at launch and never cleared.
    static AppDelegate* shared();

    static constexpr const PreferenceKey& pauseKey = prefs::isPaused;

    // Registers the preference defaults in `store` before anything reads them.
    AppDelegate(Preferences& store, AppServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence: publish `shared`, build the status item, start the watch, start the
    // clipboard timer, keep the login item registered when the user asked for it.
    void applicationDidFinishLaunching();

    // Which folder is watched.
    void startWatching();
    QUrl systemScreenshotLocation() const;
    void setCustomWatchFolder(const QUrl& folder);
    void handlePermissionDenied(const QUrl& folder);
    // The watched folder went away: wait for it to come back, then watch it again and scan.
    void handleFolderGone(const QUrl& folder);
    void showPermissionAlert(const QUrl& folder);

    // Recognising new screenshots.
    void handleFolderChange(const QUrl& folder);
    void scanWatchedFolder(const QUrl& folder);

    // What happens to a new screenshot; reports whether it was queued for the card.
    bool handleNewScreenshot(const QUrl& file);
    void moveScreenshot(const QUrl& file, const FolderConfig& folder);
    // The card's actions on the screenshot it shows: file it, trash it, or make a new folder.
    void popupMove(const QUrl& file, const QString& folderID);
    void popupDelete(const QUrl& file);
    void quickCreateFolder();
    void playCue(const QString& soundName, const PreferenceKey& levelKey);
    // Blocks until the moves and conversions started so far are done.
    void waitForMoves();

    // Status item and menu.
    void setupStatusItem();
    void statusItemClicked();
    void togglePauseFromMenu();
    void openSettings();
    void refreshStatusItem();
    void refreshPauseMenuItem();
    void showStatusMenu();
    void showSettingsWindow();

    // The quick-move card.
    void showPopupForQueueHead(bool fromStatusItemClick);
    void scheduleClosePopup();
    void closePopup();
    void pruneScreenshotQueue();

    // The toast and the clipboard.
    void showCopiedToast();
    void startPasteboardTimer();

    StatusItem* statusItem() const { return m_statusItem; }
    QuickMovePanel* popupWindow() const;
    SettingsWindow* settingsWindow() const;
    CopiedToast* toastWindow() const;

    WatchStatus watchStatus() const { return m_watchStatus; }
    const QUrl& currentWatchURL() const { return m_currentWatchURL; }
    bool isUsingCustomWatchFolder() const { return m_isUsingCustomWatchFolder; }
    const QDateTime& monitorStartedAt() const { return m_monitorStartedAt; }
    const FolderMonitor* monitor() const { return m_monitor.get(); }
    const QList<QUrl>& screenshotQueue() const { return m_screenshotQueue; }
    // Every path the scan will not take again unless another file is put there, and Quillary's
    // own outputs, which it never takes.
    QSet<QString> seenScreenshotPaths() const;
    bool isPaused() const;
    // Pauses or resumes the way the menu's Pause item does; nothing happens when already so.
    void setPaused(bool paused);
    // Before quitting: drops the moves not started yet and waits at most `msecs` for the one in
    // progress; false when it is still running then.
    bool finishMovesBeforeQuit(int msecs);

private:
    void stopWatching();
    void startMonitor(const QUrl& folder);
    void handleFolderBack(const QUrl& folder);
    void startPopupForScan();
    void advanceQueue();

    Preferences& m_store;
    AppServices m_services;

    WatchStatus m_watchStatus = WatchStatus::notStarted;
    QUrl m_currentWatchURL;
    bool m_isUsingCustomWatchFolder = false;
    QUrl m_securityScopedURL;
    StatusItem* m_statusItem = nullptr;
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<QuickMovePanel> m_popupWindow;
    QPointer<CopiedToast> m_toastWindow;
    std::unique_ptr<FolderMonitor> m_monitor;
    // Set while the watched folder is gone.
    std::unique_ptr<MissingFolderWatch> m_missingFolderWatch;
    QPointer<QTimer> m_pasteboardTimer;
    qint64 m_lastPasteboardChangeCount = 0;
    std::optional<QByteArray> m_lastClipboardPNGData;
    QDateTime m_lastDesktopScreenshotAt = distantPast();
    QList<QUrl> m_screenshotQueue;
    SeenFiles m_seen;
    QDateTime m_monitorStartedAt = distantFuture();
    // Without a tray the settings window carries Pause/Resume and Quit.
    bool m_hasTrayIcon = false;

    ScanScheduler m_scanScheduler;
    ScreenshotMover m_mover;
};

} // namespace quillary
