#include "ui/AppShell.h"

#include "core/Diagnostics.h"
#include "folders/FolderStore.h"
#include "platform/TrayHostWatcher.h"
#include "ui/CopiedToast.h"
#include "ui/QuickMovePanel.h"
#include "ui/QuickMovePopup.h"
#include "ui/StatusItem.h"
#include "ui/settings/SettingsWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace quillary {

AppShell::AppShell(FolderStore& folders, std::unique_ptr<TrayHostWatcher> trayHosts, QObject* parent)
    : QObject(parent)
    , m_folders(folders)
    , m_trayHosts(std::move(trayHosts))
{
}

AppShell::~AppShell()
{
    delete m_popupWindow.data();
    delete m_settingsWindow.data();
    delete m_toastWindow.data();
}

QuickMovePanel* AppShell::popupWindow() const
{
    return m_popupWindow.data();
}

SettingsWindow* AppShell::settingsWindow() const
{
    return m_settingsWindow.data();
}

CopiedToast* AppShell::toastWindow() const
{
    return m_toastWindow.data();
}

void AppShell::setupStatusItem(bool isPaused)
{
    m_statusItem = new StatusItem(std::move(m_trayHosts), this);
    connect(m_statusItem, &StatusItem::leftClicked, this, &AppShell::statusItemClicked);
    connect(m_statusItem, &StatusItem::settingsRequested, this, &AppShell::settingsRequested);
    connect(m_statusItem, &StatusItem::pauseToggleRequested, this, &AppShell::pauseToggleRequested);
    connect(m_statusItem, &StatusItem::pendingRequested, this, &AppShell::pendingRequested);
    connect(m_statusItem, &StatusItem::quitRequested, this, &AppShell::quitRequested);
    connect(m_statusItem, &StatusItem::trayAppeared, this, [this] { m_hasTrayIcon = true; });

    m_hasTrayIcon = m_statusItem->setup(isPaused);
    if (!m_hasTrayIcon) {
        // Never leave the user without a way in: the settings window carries the menu's actions.
        const QString advice = trayAdviceFor(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
        printLine(QStringLiteral("⚠️ Quillary: No system tray found; the settings window stays available "
                                 "instead (a tray icon appears when a tray does)") +
                  (advice.isEmpty() ? QString() : QStringLiteral("; ") + advice));
        showSettingsWindow(isPaused);
    }
}

void AppShell::refreshStatusItem(int pendingCount)
{
    if (m_statusItem)
        m_statusItem->refresh(pendingCount);
}

void AppShell::setStatusActivity(const QString& text)
{
    if (m_statusItem)
        m_statusItem->setActivity(text);
}

void AppShell::refreshPauseMenuItem(bool isPaused)
{
    if (m_statusItem)
        m_statusItem->refreshPauseTitle(isPaused);
    if (m_settingsWindow)
        m_settingsWindow->setPaused(isPaused);
}

void AppShell::showStatusMenu()
{
    if (m_statusItem)
        m_statusItem->showMenu();
}

void AppShell::setSettingsServices(SettingsHost* host, Interaction* interaction)
{
    m_settingsHost = host;
    m_interaction = interaction;
}

void AppShell::showSettingsWindow(bool isPaused)
{
    if (!m_settingsWindow || !m_settingsWindow->isVisible()) {
        delete m_settingsWindow.data();
        // The window's content is built afresh (a standard folder deleted from the list returns).
        m_settingsWindow = new SettingsWindow(m_folders, m_settingsHost, m_interaction, !m_hasTrayIcon);
        m_settingsWindow->setPaused(isPaused);
        connect(m_settingsWindow, &SettingsWindow::pauseToggleRequested, this,
                &AppShell::pauseToggleRequested);
        connect(m_settingsWindow, &SettingsWindow::quitRequested, this, &AppShell::quitRequested);
        connect(m_settingsWindow, &SettingsWindow::renamesRequested, this, &AppShell::renamesRequested);
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

void AppShell::showCard(const QUrl& file, int total, bool onPointerScreen)
{
    auto* view = new QuickMovePopup(file, total, m_folders);
    // The card may be replaced from inside one of these: they only pass the request on.
    view->onMove = [this, file](const QString& folderID) { emit cardMoveRequested(file, folderID); };
    view->onDelete = [this, file] { emit cardDeleteRequested(file); };
    view->onQuickCreateFolder = [this] { emit cardQuickCreateRequested(); };

    if (!m_popupWindow) {
        m_popupWindow = new QuickMovePanel;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            m_popupWindow->placeOnScreen(screen);
    }
    if (onPointerScreen) {
        if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
            m_popupWindow->placeOnScreen(screen);
    }
    m_popupWindow->setContent(view);
    m_popupWindow->showWithoutActivating();
}

void AppShell::closeCard()
{
    if (m_popupWindow) {
        m_popupWindow->close();
        m_popupWindow->deleteLater();
    }
    m_popupWindow = nullptr;
}

void AppShell::showCopiedToast()
{
    if (!m_toastWindow)
        m_toastWindow = new CopiedToast;
    m_toastWindow->show(QCursor::pos());
}

} // namespace quillary
