#pragma once

#include "handle/RetroRename.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;

namespace quillary {

class FolderStore;
class Interaction;
class Preferences;
class SettingsHost;
class SidebarButton;

// The settings window's pages, in sidebar order.
enum class SettingsTab { general, soundsClipboard, folders };
QString settingsTabTitle(SettingsTab tab);
QString settingsTabSymbol(SettingsTab tab);

// The content of the settings window: the sidebar of pages, the page's title, the page in a scroll
// area and the "Done" footer. Made fresh for each opening of the window, so its transient state
// (below) starts over each time. Every control writes its preference at once and follows changes made
// elsewhere while the view lives. Main thread only.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize viewSize{720, 680};

    // `host` may be null (no running application); it must outlive the view when given.
    SettingsView(FolderStore& folders, SettingsHost* host, Interaction* interaction,
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    FolderStore& folders() const { return m_folders; }
    Preferences& store() const;
    SettingsHost* host() const { return m_host; }
    Interaction* interaction() const { return m_interaction; }

    SettingsTab selectedTab() const { return m_selectedTab; }
    void setSelectedTab(SettingsTab tab);
    QWidget* page(SettingsTab tab) const;

    // The watch as last read from the host ("" / true / false without one).
    QString watchFolderPath() const { return m_watchFolderPath; }
    bool watchAccessOK() const { return m_watchAccessOK; }
    bool watchIsCustom() const { return m_watchIsCustom; }
    void refreshWatchState();

    // The rename bookkeeping of this opening: committed rule values per folder, and the renames
    // waiting for "Done".
    RetroRenameBook& renameBook() { return m_renameBook; }

    QPushButton* doneButton() const { return m_done; }
    // Puts `footer` at the bottom of the sidebar (the application's own controls when there is no tray).
    void setSidebarFooter(QWidget* footer);

signals:
    // "Done" was clicked (or Return pressed): the window closes, and `jobs` (possibly none) are to run
    // against `folders`, the list as it is now.
    void doneRequested(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders);
    // The watch state was read again.
    void watchStateChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSidebar();
    void done();

    FolderStore& m_folders;
    SettingsHost* m_host;
    Interaction* m_interaction;
    SettingsTab m_selectedTab = SettingsTab::general;
    QString m_watchFolderPath;
    bool m_watchAccessOK = true;
    bool m_watchIsCustom = false;
    RetroRenameBook m_renameBook;

    QList<SidebarButton*> m_tabButtons;
    QWidget* m_sidebar = nullptr;
    QLabel* m_title = nullptr;
    QWidget* m_pages = nullptr; // the three pages, only the selected one shown
    QScrollArea* m_scroll = nullptr;
    QPushButton* m_done = nullptr;
};

} // namespace quillary
