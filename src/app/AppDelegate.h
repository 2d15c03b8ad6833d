#pragma once

#include "core/OwnOutputs.h"
#include "core/PreferenceKeys.h"
#include "core/WatchStatus.h"
#include "handle/RetroRename.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace quillary {

class AppShell;
class ClipboardSource;
class ClipboardWatcher;
class CopiedToast;
class CuePlayer;
class FolderMonitor;
class FolderStore;
class Interaction;
class LoginItemService;
class Preferences;
class QuickMovePanel;
class RetroRenamer;
class ScreenshotDispatcher;
class SettingsWindow;
class StatusItem;
class TrayHostWatcher;
class WatchController;
struct FolderConfig;

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
    // Where the desktop's screenshot tool saves (an absolute path; the user's Desktop folder at worst).
    std::function<QString()> screenshotFolder;
    // The clipboard that copied images are saved from; none means nothing is ever saved.
    std::unique_ptr<ClipboardSource> clipboard;

    static AppServices createDefault();
};

// The application: owns the parts that each keep one concern (the watch, the dispatch of new
// screenshots, the windows) and wires them together. Its operations are the application's own
// vocabulary; each hands over to the part that owns it. Lives on the main thread from launch to exit.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // The running delegate, set at launch and never cleared; the settings window reaches the watch
    // through it.
    static AppDelegate* shared();

    static constexpr const PreferenceKey& pauseKey = prefs::isPaused;

    // Registers the preference defaults in `store` before anything reads them.
    AppDelegate(Preferences& store, AppServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence: publish `shared`, seed the folder list, clear leftovers of interrupted
    // conversions, build the status item, start the watch, start the clipboard timer, keep the
    // login item registered when the user asked for it.
    void applicationDidFinishLaunching();

    // Which folder is watched, and what is new in it.
    void startWatching();
    QUrl systemScreenshotLocation() const;
    void setCustomWatchFolder(const QUrl& folder);
    void showPermissionAlert(const QUrl& folder);
    void scanWatchedFolder(const QUrl& folder);

    // What happens to a new screenshot.
    bool handleNewScreenshot(const QUrl& file);
    void moveScreenshot(const QUrl& file, const FolderConfig& folder);
    void popupMove(const QUrl& file, const QString& folderID);
    void popupDelete(const QUrl& file);
    void quickCreateFolder();
    void playCue(const QString& soundName, const PreferenceKey& levelKey);
    // Blocks until the moves and conversions started so far are done.
    void waitForMoves();
    // Before quitting: drops the moves not started yet and waits at most `msecs` for the one in
    // progress; false when it is still running then.
    bool finishMovesBeforeQuit(int msecs);

    // Status item and menu.
    void setupStatusItem();
    void statusItemClicked();
    void togglePauseFromMenu();
    // Pauses or resumes the way the menu's Pause item does; nothing happens when already so.
    void setPaused(bool paused);
    void openSettings();
    void refreshStatusItem();
    void refreshPauseMenuItem();
    void showSettingsWindow();
    // Runs the settings window's renames in the background, one run after another.
    void applyRetroRenames(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders);
    // Registers or unregisters the login item; a failure prints one line and changes nothing else.
    void setLaunchAtLogin(bool enabled);

    // The quick-move card.
    void showPopupForQueueHead(bool fromStatusItemClick);
    void scheduleClosePopup();
    void closePopup();
    void pruneScreenshotQueue();

    // The toast and the clipboard.
    void showCopiedToast();
    void startPasteboardTimer();
    void checkPasteboard();
    // Saves an image read from the clipboard, in any image format, into the "ClipBoard" folder.
    void saveClipboardImage(const QByteArray& encodedImage);
    void forgetLastClipboardImage();

    bool isPaused() const;
    WatchStatus watchStatus() const;
    const QUrl& currentWatchURL() const;
    bool isUsingCustomWatchFolder() const;
    const QList<QUrl>& screenshotQueue() const;

    // The parts, for the settings window and for tests.
    FolderStore& folderStore() const { return *m_folders; }
    WatchController& watch() const { return *m_watch; }
    ScreenshotDispatcher& dispatcher() const { return *m_dispatcher; }
    AppShell& shell() const { return *m_shell; }
    ClipboardWatcher& clipboard() const { return *m_clipboard; }
    // Renames the files already in folders, for the settings window's Done action.
    RetroRenamer& retroRenamer() const { return *m_retroRenamer; }
    const OwnOutputs& ownOutputs() const { return m_ownOutputs; }

private:
    Preferences& m_store;
    AppServices m_services;
    OwnOutputs m_ownOutputs;
    std::unique_ptr<FolderStore> m_folders;
    std::unique_ptr<ScreenshotDispatcher> m_dispatcher;
    std::unique_ptr<WatchController> m_watch;
    std::unique_ptr<AppShell> m_shell;
    std::unique_ptr<ClipboardWatcher> m_clipboard;
    class SettingsBridge;
    std::unique_ptr<SettingsBridge> m_settingsBridge;
    std::unique_ptr<RetroRenamer> m_retroRenamer;
};

} // namespace quillary
