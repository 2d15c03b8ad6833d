#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quillary {

class TrayHostWatcher;

// The tray icon and its menu: "Settings...", "Pause Quillary"/"Resume Quillary", "Quit", plus
// "Show Pending Screenshots" while screenshots wait (for trays that open the menu on every click).
//
// The icon is only made once the session has a tray host; until then the menu exists but nothing
// shows it, and `trayAppeared` tells when the icon is up.
class StatusItem final : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(std::unique_ptr<TrayHostWatcher> hostWatcher, QObject* parent = nullptr);
    ~StatusItem() override;

    // Builds the menu and, when a tray host is there, the icon. Returns whether the icon is up.
    bool setup(bool isPaused);
    bool hasTrayIcon() const { return m_trayIcon != nullptr; }

    // Icon badge, tooltip and the pending entry follow the queue length.
    void refresh(qsizetype pendingCount);
    // While not empty, the tooltip says this instead ("Renaming 3 of 12 in Work…").
    void setActivity(const QString& text);
    void refreshPauseTitle(bool isPaused);
    // Opens the menu at the pointer.
    void showMenu();

    QMenu* menu() const { return m_menu.get(); }
    QAction* pauseMenuItem() const { return m_pauseItem; }
    QAction* pendingMenuItem() const { return m_pendingItem; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }

    static QString toolTipFor(qsizetype pendingCount);
    QString toolTip() const;

signals:
    void leftClicked();
    void settingsRequested();
    void pauseToggleRequested();
    void pendingRequested();
    void quitRequested();
    void trayAppeared();

private:
    void createTrayIcon();

    std::unique_ptr<TrayHostWatcher> m_hostWatcher;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QAction> m_pauseItem;
    QPointer<QAction> m_pendingItem;
    QSystemTrayIcon* m_trayIcon = nullptr;
    qsizetype m_pendingCount = 0;
    QString m_activity;
};

} // namespace quillary
