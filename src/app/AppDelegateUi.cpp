// The delegate's user-interface operations: the tray item and menu, the quick-move card, the toast
// and the settings window.
#include "app/AppDelegate.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"
#include "core/Preferences.h"
#include "folders/SavedFolders.h"
#include "platform/TrayHostWatcher.h"
#include "ui/CopiedToast.h"
#include "ui/QuickMovePanel.h"
#include "ui/QuickMovePopup.h"
#include "ui/StatusItem.h"
#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QScreen>

#include <sys/stat.h>

namespace quillary {

QuickMovePanel* AppDelegate::popupWindow() const
{
    return m_popupWindow.data();
}
SettingsWindow* AppDelegate::settingsWindow() const
{
    return m_settingsWindow.data();
}
CopiedToast* AppDelegate::toastWindow() const
{
    return m_toastWindow.data();
}

// MARK: - Status item and menu

void AppDelegate::setupStatusItem()
{
    m_statusItem = new StatusItem(std::move(m_services.trayHosts), this);
    connect(m_statusItem, &StatusItem::leftClicked, this, &AppDelegate::statusItemClicked);
    connect(m_statusItem, &StatusItem::settingsRequested, this, &AppDelegate::openSettings);
    connect(m_statusItem, &StatusItem::pauseToggleRequested, this, &AppDelegate::togglePauseFromMenu);
    connect(m_statusItem, &StatusItem::pendingRequested, this, [this] { showPopupForQueueHead(true); });
    connect(m_statusItem, &StatusItem::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(m_statusItem, &StatusItem::trayAppeared, this, [this] { m_hasTrayIcon = true; });

    m_hasTrayIcon = m_statusItem->setup(isPaused());
    if (!m_hasTrayIcon) {
        // Never leave the user without a way in: the settings window carries the menu's actions.
        printLine(QStringLiteral("⚠️ Quillary: No system tray found; the settings window stays available "
                                 "instead (a tray icon appears when a tray does)"));
        showSettingsWindow();
    }
    refreshStatusItem();
}

void AppDelegate::statusItemClicked()
{
    // Right clicks open the menu through the tray itself; this is the left click.
    if (m_screenshotQueue.isEmpty())
        showStatusMenu();
    else
        showPopupForQueueHead(true);
}

void AppDelegate::togglePauseFromMenu()
{
    const bool wasPaused = isPaused();
    m_store.setBool(pauseKey, !wasPaused);
    if (!wasPaused) {
        // The queued screenshots stay where they are on disk; they are only forgotten here.
        m_screenshotQueue.clear();
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
    if (m_statusItem)
        m_statusItem->refresh(m_screenshotQueue.size());
}

void AppDelegate::refreshPauseMenuItem()
{
    if (m_statusItem)
        m_statusItem->refreshPauseTitle(isPaused());
    if (m_settingsWindow)
        m_settingsWindow->setPaused(isPaused());
}

void AppDelegate::showStatusMenu()
{
    if (m_statusItem)
        m_statusItem->showMenu();
}

void AppDelegate::showSettingsWindow()
{
    if (!m_settingsWindow || !m_settingsWindow->isVisible()) {
        delete m_settingsWindow.data();
        seedDefaultFolders(
            m_store); // the window's content is built afresh: a deleted standard folder returns
        m_settingsWindow = new SettingsWindow(!m_hasTrayIcon);
        m_settingsWindow->setPaused(isPaused());
        connect(m_settingsWindow, &SettingsWindow::pauseToggleRequested, this,
                &AppDelegate::togglePauseFromMenu);
        connect(m_settingsWindow, &SettingsWindow::quitRequested, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_settingsWindow->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_settingsWindow->move(frame.topLeft());
        }
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

// MARK: - The quick-move card

void AppDelegate::showPopupForQueueHead(bool fromStatusItemClick)
{
    if (isPaused())
        return;
    pruneScreenshotQueue();
    if (m_screenshotQueue.isEmpty()) {
        scheduleClosePopup();
        return;
    }

    const QUrl file = m_screenshotQueue.first();
    auto* view = new QuickMovePopup(file, 1, static_cast<int>(m_screenshotQueue.size()), m_store);
    QPointer<AppDelegate> weakSelf(this);
    view->onMove = [weakSelf, file](const QString& folderID) {
        if (weakSelf)
            weakSelf->popupMove(file, folderID);
    };
    view->onDelete = [weakSelf, file] {
        if (weakSelf)
            weakSelf->popupDelete(file);
    };
    view->onQuickCreateFolder = [weakSelf] {
        if (weakSelf)
            weakSelf->quickCreateFolder();
    };

    if (!m_popupWindow) {
        m_popupWindow = new QuickMovePanel;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            m_popupWindow->placeOnScreen(screen);
    }
    if (fromStatusItemClick) {
        if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
            m_popupWindow->placeOnScreen(screen);
    }
    m_popupWindow->setContent(view);
    m_popupWindow->showWithoutActivating();
    refreshStatusItem();
}

void AppDelegate::scheduleClosePopup()
{
    // Deferred, so a close asked for inside a button's action runs after that action returns.
    QMetaObject::invokeMethod(this, &AppDelegate::closePopup, Qt::QueuedConnection);
}

void AppDelegate::closePopup()
{
    if (m_popupWindow) {
        m_popupWindow->close();
        m_popupWindow->deleteLater();
    }
    m_popupWindow = nullptr;
    refreshStatusItem();
}

void AppDelegate::pruneScreenshotQueue()
{
    // By the file system's bytes: a name that is not valid UTF-8 must not look like a missing file.
    m_screenshotQueue.removeIf([](const QUrl& file) {
        struct stat info {};
        return lstat(toNativePath(file.toLocalFile()).constData(), &info) != 0;
    });
}

// MARK: - The toast

void AppDelegate::showCopiedToast()
{
    if (!m_toastWindow)
        m_toastWindow = new CopiedToast;
    m_toastWindow->show(QCursor::pos());
}

void AppDelegate::startPasteboardTimer()
{
    // Clipboard saving is not part of this build yet.
}

} // namespace quillary
