#pragma once

#include "handle/RetroRename.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

namespace quillary {

class CopiedToast;
class FolderStore;
class Interaction;
class SettingsHost;
class QuickMovePanel;
class SettingsWindow;
class StatusItem;
class TrayHostWatcher;

// The application's windows: the tray item and its menu, the quick-move card, the toast and the
// settings window. It shows what it is told and reports what the user asked for; what that means
// is decided by its owner. Main thread only.
class AppShell final : public QObject {
    Q_OBJECT

public:
    AppShell(FolderStore& folders, std::unique_ptr<TrayHostWatcher> trayHosts, QObject* parent = nullptr);
    ~AppShell() override;

    // Builds the tray item and menu. Without a tray the settings window is shown instead, with the
    // menu's actions on it, and a line says so.
    void setupStatusItem(bool isPaused);
    void refreshStatusItem(int pendingCount);
    void refreshPauseMenuItem(bool isPaused);
    // What Quillary is busy with, shown in the tray's tooltip while not empty.
    void setStatusActivity(const QString& text);
    void showStatusMenu();
    // Shows the settings window, built afresh unless it is already visible.
    void showSettingsWindow(bool isPaused);
    // What the settings window built from now on reaches the application through; either may be null.
    void setSettingsServices(SettingsHost* host, Interaction* interaction);

    // Fills the card with `file` (`total` waiting) and shows it without taking the focus, at the
    // lower right of the primary screen, or of the pointer's screen when `onPointerScreen`.
    void showCard(const QUrl& file, int total, bool onPointerScreen);
    void closeCard();
    void showCopiedToast();

    StatusItem* statusItem() const { return m_statusItem; }
    QuickMovePanel* popupWindow() const;
    SettingsWindow* settingsWindow() const;
    CopiedToast* toastWindow() const;

signals:
    // The settings window's "Done" asked for these renames.
    void renamesRequested(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders);
    void statusItemClicked();
    void settingsRequested();
    void pauseToggleRequested();
    void pendingRequested();
    void quitRequested();
    // The card's buttons, for the screenshot it showed.
    void cardMoveRequested(const QUrl& file, const QString& folderID);
    void cardDeleteRequested(const QUrl& file);
    void cardQuickCreateRequested();

private:
    FolderStore& m_folders;
    std::unique_ptr<TrayHostWatcher> m_trayHosts;
    StatusItem* m_statusItem = nullptr;
    QPointer<SettingsWindow> m_settingsWindow;
    SettingsHost* m_settingsHost = nullptr;
    Interaction* m_interaction = nullptr;
    QPointer<QuickMovePanel> m_popupWindow;
    QPointer<CopiedToast> m_toastWindow;
    // Without a tray the settings window carries Pause/Resume and Quit.
    bool m_hasTrayIcon = false;
};

} // namespace quillary
