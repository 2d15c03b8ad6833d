#include "ui/settings/SettingsView.h"

#include "ui/settings/FoldersPage.h"
#include "ui/settings/GeneralPage.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SidebarButton.h"
#include "ui/settings/SoundsClipboardPage.h"
#include "ui/widgets/SettingsStyle.h"

#include "core/NotificationCenter.h"
#include "folders/FolderStore.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quillary {
namespace {

constexpr int kSidebarWidth = 180;
constexpr int kPageMargin = 28;

// The sidebar's backdrop: the window colour thinned over the base colour, a shade apart from the page.
class SidebarBackdrop final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        painter.fillRect(rect(), style::withOpacity(palette().color(QPalette::Window), 0.6));
    }
};

QLabel* label(const QString& text, const QFont& font, QWidget* parent)
{
    auto* result = new QLabel(text, parent);
    result->setFont(font);
    return result;
}

} // namespace

QString settingsTabTitle(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general:
        return QStringLiteral("General");
    case SettingsTab::soundsClipboard:
        return QStringLiteral("Sounds & Clipboard");
    case SettingsTab::folders:
        return QStringLiteral("Folders");
    }
    return {};
}

QString settingsTabSymbol(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general:
        return QStringLiteral("gearshape");
    case SettingsTab::soundsClipboard:
        return QStringLiteral("speaker.wave.2");
    case SettingsTab::folders:
        return QStringLiteral("folder");
    }
    return {};
}

SettingsView::SettingsView(FolderStore& folders, SettingsHost* host, Interaction* interaction,
                           QWidget* parent)
    : QWidget(parent)
    , m_folders(folders)
    , m_host(host)
    , m_interaction(interaction)
{
    // A new view repairs the list first: a standard folder deleted from it returns, and a selection
    // that names no folder falls back to the Desktop.
    m_folders.seedDefaults();
    setFixedSize(viewSize);

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(makeSidebar());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedWidth(1);
    divider->setStyleSheet(QStringLiteral("color: rgba(128, 128, 128, 70);"));
    columns->addWidget(divider);

    auto* pageArea = new QWidget(this);
    pageArea->setAutoFillBackground(true);
    pageArea->setBackgroundRole(QPalette::Window);
    auto* rows = new QVBoxLayout(pageArea);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    // Paddings go on layouts: a style's polish may reset a label's own contents margins.
    m_title = label({}, style::font(font(), 16, QFont::Bold), pageArea);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(kPageMargin, 20, kPageMargin, 16);
    header->addWidget(m_title);
    rows->addLayout(header);

    m_scroll = new QScrollArea(pageArea);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(m_scroll);
    content->setAutoFillBackground(false);
    auto* contentRows = new QVBoxLayout(content);
    contentRows->setContentsMargins(kPageMargin, 0, kPageMargin, 12);
    contentRows->setSpacing(0);
    // Only the selected page is shown, so the scroll area is as tall as that page alone.
    m_pages = new QWidget(content);
    auto* pageStack = new QVBoxLayout(m_pages);
    pageStack->setContentsMargins(0, 0, 0, 0);
    pageStack->addWidget(new GeneralPage(*this));
    pageStack->addWidget(new SoundsClipboardPage(*this));
    pageStack->addWidget(new FoldersPage(*this));
    contentRows->addWidget(m_pages);
    contentRows->addStretch();
    m_scroll->setWidget(content);
    m_scroll->viewport()->setAutoFillBackground(false);
    rows->addWidget(m_scroll, 1);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(kPageMargin, 8, kPageMargin, 16);
    footer->addStretch();
    m_done = new QPushButton(QStringLiteral("Done"), pageArea);
    m_done->setDefault(true);
    m_done->setMinimumWidth(80);
    connect(m_done, &QPushButton::clicked, this, &SettingsView::done);
    footer->addWidget(m_done);
    rows->addLayout(footer);
    columns->addWidget(pageArea, 1);

    connect(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged, this,
            &SettingsView::refreshWatchState);
    setSelectedTab(SettingsTab::general);
}

SettingsView::~SettingsView() = default;

Preferences& SettingsView::store() const
{
    return m_folders.preferences();
}

QWidget* SettingsView::makeSidebar()
{
    auto* sidebar = new SidebarBackdrop(this);
    sidebar->setFixedWidth(kSidebarWidth);
    auto* stack = new QVBoxLayout(sidebar);
    stack->setContentsMargins(16, 20, 16, 16);
    stack->setSpacing(4);
    stack->addWidget(label(QStringLiteral("Settings"), style::font(font(), 16, QFont::Bold), sidebar));
    stack->addSpacing(2);
    QLabel* caption =
        label(QStringLiteral("LOCAL PREFERENCES"), style::font(font(), 9, QFont::DemiBold), sidebar);
    style::useSecondaryText(*caption, palette());
    stack->addWidget(caption);
    stack->addSpacing(8);
    for (const SettingsTab tab : {SettingsTab::general, SettingsTab::soundsClipboard, SettingsTab::folders}) {
        auto* button = new SidebarButton(settingsTabSymbol(tab), settingsTabTitle(tab), sidebar);
        connect(button, &QAbstractButton::clicked, this, [this, tab] { setSelectedTab(tab); });
        m_tabButtons.append(button);
        stack->addWidget(button);
    }
    stack->addStretch();
    m_sidebar = sidebar;
    return sidebar;
}

void SettingsView::setSelectedTab(SettingsTab tab)
{
    m_selectedTab = tab;
    m_title->setText(settingsTabTitle(tab));
    const int index = int(tab);
    m_tabButtons.at(index)->setChecked(true);
    for (int i = 0; i < m_pages->layout()->count(); ++i)
        m_pages->layout()->itemAt(i)->widget()->setVisible(i == index);
}

void SettingsView::setSidebarFooter(QWidget* footer)
{
    footer->setParent(m_sidebar);
    m_sidebar->layout()->addWidget(footer);
}

QWidget* SettingsView::page(SettingsTab tab) const
{
    QLayoutItem* item = m_pages->layout()->itemAt(int(tab));
    return item ? item->widget() : nullptr;
}

void SettingsView::refreshWatchState()
{
    if (!m_host)
        return;
    m_watchFolderPath = m_host->currentWatchURL().toLocalFile();
    m_watchAccessOK = m_host->watchStatus() != WatchStatus::noAccess;
    m_watchIsCustom = m_host->isUsingCustomWatchFolder();
    emit watchStateChanged();
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshWatchState();
    // Filled once per view; from then on only the Folders page changes it.
    if (m_renameBook.committedRenameSnapshot.isEmpty())
        m_renameBook.fillSnapshot(m_folders.folders());
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    // Reaches here only when no control took the key: a text field or a button with the focus passes
    // Return on, so it means "Done" wherever the focus is, the first focus included.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_done->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsView::done()
{
    emit doneRequested(m_renameBook.takePendingJobs(), m_folders.folders());
}

} // namespace quillary
