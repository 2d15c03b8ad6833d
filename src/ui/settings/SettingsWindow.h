#pragma once

#include "handle/RetroRename.h"

#include <QWidget>

class QPushButton;

namespace quillary {

class FolderStore;
class Interaction;
class SettingsHost;
class SettingsView;

// The settings window: 720 × 680, titled "Quillary Settings", closable but neither resizable nor
// minimisable, holding one SettingsView for its whole life (the window is rebuilt for each opening).
// "Done" closes it; closing it never quits the program. Without a tray icon it also carries the
// menu's Pause/Resume and Quit at the foot of its sidebar, so that every action stays reachable.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    SettingsWindow(FolderStore& folders, SettingsHost* host, Interaction* interaction, bool showAppControls,
                   QWidget* parent = nullptr);

    void setPaused(bool isPaused);
    bool showsAppControls() const { return m_pauseButton != nullptr; }
    SettingsView* view() const { return m_view; }

signals:
    // "Done" closed the window with these renames to run (the close box drops them).
    void renamesRequested(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders);
    void pauseToggleRequested();
    void quitRequested();

private:
    SettingsView* m_view;
    QPushButton* m_pauseButton = nullptr;
};

} // namespace quillary
