#pragma once

#include <QWidget>

class QPushButton;

namespace quillary {

// The settings window: 720 × 680, titled "Quillary Settings", closable but neither resizable nor
// minimisable. Without a tray icon it also carries the menu's Pause/Resume and Quit in its footer,
// so that every action stays reachable.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(bool showAppControls, QWidget* parent = nullptr);

    void setPaused(bool isPaused);
    bool showsAppControls() const { return m_pauseButton != nullptr; }

signals:
    void pauseToggleRequested();
    void quitRequested();

private:
    QPushButton* m_pauseButton = nullptr;
};

} // namespace quillary
