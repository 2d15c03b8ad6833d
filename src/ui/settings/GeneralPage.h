#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace quillary {

class SegmentedControl;
class SettingsRow;
class SettingsView;
class ToggleSwitch;

// The settings window's General page: the watched folder, screenshot handling, thumbnail duration, quick
// create, launch at login, global rename.
class GeneralPage final : public QWidget {
    Q_OBJECT

public:
    explicit GeneralPage(SettingsView& view);

    // The shortest thumbnail duration the system honours, and the longest.
    static constexpr double minThumbnailSeconds = 5.0;
    static constexpr double maxThumbnailSeconds = 19.0;

    SettingsRow* watchedFolderRow() const { return m_watchedFolderRow; }
    QPushButton* changeButton() const { return m_change; }
    QPushButton* autoDetectButton() const { return m_autoDetect; }
    SettingsRow* handlingRow() const { return m_handlingRow; }
    SegmentedControl* handlingControl() const { return m_handling; }
    SettingsRow* thumbnailRow() const { return m_thumbnailRow; }
    QLineEdit* thumbnailField() const { return m_thumbnail; }
    SettingsRow* quickCreateRow() const { return m_quickCreateRow; }
    QComboBox* quickCreatePicker() const { return m_quickCreate; }
    ToggleSwitch* launchAtLoginSwitch() const { return m_launchAtLogin; }
    SettingsRow* globalRenameRow() const { return m_globalRenameRow; }
    ToggleSwitch* globalRenameSwitch() const { return m_globalRename; }
    QWidget* renameOptions() const { return m_renameOptions; }
    QLineEdit* prefixField() const { return m_prefix; }
    SegmentedControl* formatControl() const { return m_format; }
    QCheckBox* dateCheck() const { return m_date; }

private:
    void buildWatchedFolder(QVBoxLayout* page);
    void buildHandling(QVBoxLayout* page);
    void buildGlobal(QVBoxLayout* page);
    void refreshWatchedFolder();
    void refreshHandlingSubtitle();
    void chooseWatchFolder();
    void autoDetectWatchFolder();
    void commitThumbnailDuration();
    void showThumbnailDuration();

    SettingsView& m_view;
    SettingsRow* m_watchedFolderRow = nullptr;
    QPushButton* m_change = nullptr;
    QPushButton* m_autoDetect = nullptr;
    SettingsRow* m_handlingRow = nullptr;
    SegmentedControl* m_handling = nullptr;
    SettingsRow* m_thumbnailRow = nullptr;
    QLineEdit* m_thumbnail = nullptr;
    SettingsRow* m_quickCreateRow = nullptr;
    QComboBox* m_quickCreate = nullptr;
    ToggleSwitch* m_launchAtLogin = nullptr;
    SettingsRow* m_globalRenameRow = nullptr;
    ToggleSwitch* m_globalRename = nullptr;
    QWidget* m_renameOptions = nullptr;
    QLineEdit* m_prefix = nullptr;
    SegmentedControl* m_format = nullptr;
    QCheckBox* m_date = nullptr;
};

} // namespace quillary
