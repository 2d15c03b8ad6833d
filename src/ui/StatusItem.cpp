#include "ui/StatusItem.h"

#include "platform/TrayHostWatcher.h"
#include "ui/TrayIcon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QSystemTrayIcon>

namespace quillary {
namespace {

constexpr qsizetype maxShownCount = 99;

bool panelLooksDark()
{
    // Panels rarely tell their colour; follow the desktop's colour scheme, where most panels do too.
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

StatusItem::StatusItem(std::unique_ptr<TrayHostWatcher> hostWatcher, QObject* parent)
    : QObject(parent)
    , m_hostWatcher(std::move(hostWatcher))
{
}

StatusItem::~StatusItem() = default;

QString StatusItem::toolTipFor(qsizetype pendingCount)
{
    if (pendingCount <= 0)
        return QStringLiteral("Quillary");
    return QStringLiteral("Quillary — %1 pending").arg(std::min(pendingCount, maxShownCount));
}

bool StatusItem::setup(bool isPaused)
{
    m_menu = std::make_unique<QMenu>();
    m_menu->setAccessibleName(QStringLiteral("Quillary"));
    m_pendingItem =
        m_menu->addAction(QStringLiteral("Show Pending Screenshots"), this, &StatusItem::pendingRequested);
    m_pendingItem->setVisible(false);
    m_menu->addAction(QStringLiteral("Settings..."), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
                      &StatusItem::settingsRequested);
    m_pauseItem = m_menu->addAction(QString(), QKeySequence(Qt::CTRL | Qt::Key_P), this,
                                    &StatusItem::pauseToggleRequested);
    refreshPauseTitle(isPaused);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this,
                      &StatusItem::quitRequested);

    refresh(m_pendingCount);
    // The icon is drawn once it exists (createTrayIcon), not before.
    if (m_hostWatcher && m_hostWatcher->isHostAvailable()) {
        createTrayIcon();
    } else if (m_hostWatcher) {
        connect(m_hostWatcher.get(), &TrayHostWatcher::hostAppeared, this, [this] {
            createTrayIcon();
            emit trayAppeared();
        });
        m_hostWatcher->watchForHost();
    }
    return hasTrayIcon();
}

void StatusItem::createTrayIcon()
{
    if (m_trayIcon)
        return;
    m_trayIcon = new QSystemTrayIcon(this);
    // Hosts that draw their own menu (StatusNotifierItem) need it exported; XEmbed trays get it
    // shown by Qt on a right click. Either way a right click opens the menu.
    m_trayIcon->setContextMenu(m_menu.get());
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit leftClicked();
    });
    refresh(m_pendingCount);
    m_trayIcon->show();
}

void StatusItem::refresh(qsizetype pendingCount)
{
    m_pendingCount = pendingCount;
    if (m_pendingItem)
        m_pendingItem->setVisible(pendingCount > 0);
    if (!m_trayIcon)
        return;
    m_trayIcon->setIcon(
        makeTrayIcon(static_cast<int>(std::min(pendingCount, maxShownCount)), panelLooksDark()));
    m_trayIcon->setToolTip(toolTip());
}

void StatusItem::setActivity(const QString& text)
{
    m_activity = text;
    refresh(m_pendingCount);
}

QString StatusItem::toolTip() const
{
    return m_activity.isEmpty() ? toolTipFor(m_pendingCount) : m_activity;
}

void StatusItem::refreshPauseTitle(bool isPaused)
{
    if (m_pauseItem)
        m_pauseItem->setText(isPaused ? QStringLiteral("Resume Quillary") : QStringLiteral("Pause Quillary"));
}

void StatusItem::showMenu()
{
    if (m_menu)
        m_menu->popup(QCursor::pos());
}

} // namespace quillary
