#pragma once

#include <QWidget>

class QComboBox;
class QLabel;

namespace quillary {

class SettingsView;
class ToggleSwitch;

// The settings window's Sounds & Clipboard page: clipboard saving with its folder, and the two
// sound cues. Every control only stores its preference.
class SoundsClipboardPage final : public QWidget {
    Q_OBJECT

public:
    explicit SoundsClipboardPage(SettingsView& view);

    ToggleSwitch* clipboardSwitch() const { return m_clipboardSwitch; }
    QComboBox* clipboardFolder() const { return m_clipboardFolder; }
    ToggleSwitch* popupSoundSwitch() const { return m_popupSound; }
    ToggleSwitch* clipboardSoundSwitch() const { return m_clipboardSound; }
    // The note under the clipboard row when this session's clipboard cannot be read; null otherwise.
    QLabel* clipboardNote() const { return m_clipboardNote; }

private:
    ToggleSwitch* m_clipboardSwitch;
    QComboBox* m_clipboardFolder;
    ToggleSwitch* m_popupSound;
    ToggleSwitch* m_clipboardSound;
    QLabel* m_clipboardNote = nullptr;
};

} // namespace quillary
