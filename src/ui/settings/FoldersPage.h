#pragma once

#include <QList>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace quillary {

struct FolderConfig;
class FolderRow;
class SegmentedControl;
class SettingsCard;
class SettingsView;

// The two lists of the Folders page, stored under "activeTab" as "Default" and "Created"; any other
// stored text reads as defaultFolders.
enum class FolderTab { defaultFolders, createdFolders };
QString folderTabValue(FolderTab tab);
FolderTab folderTabFromValue(const QString& value);

// The settings window's Folders page: the standard or the custom folders, one row each, where the
// selected one is the auto-move destination; the form that creates a custom folder; each custom
// folder's rule editor and its move to the Trash. The page is disabled while screenshot handling is
// off. It follows the stored list, the selection and the tab as they change. A list shows at most 200
// rows; the label "moreFolders" under it says how many more there are.
class FoldersPage final : public QWidget {
    Q_OBJECT

public:
    explicit FoldersPage(SettingsView& view);

    SegmentedControl* tabControl() const { return m_tabs; }
    QPushButton* addButton() const { return m_add; }
    QLineEdit* newNameField() const { return m_newName; }
    QComboBox* parentPicker() const { return m_parent; }
    QPushButton* createButton() const { return m_create; }
    bool isAddingFolder() const { return m_isAddingFolder; }
    // The rows of the active list, in stored order.
    const QList<FolderRow*>& rows() const { return m_rows; }
    QWidget* emptyState() const { return m_emptyState; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FolderTab activeTab() const;
    void setAddingFolder(bool adding);
    void updateHeader();
    void refreshRows();
    void updateSelection();
    void fitListHeight();
    FolderRow* makeRow(const FolderConfig& folder);
    void createFolder();
    void editFolder(FolderRow* row, const std::function<void(FolderConfig&)>& edit);
    void deleteFolder(const QUuid& id);
    void commitChange(const QUuid& id);

    SettingsView& m_view;
    bool m_isAddingFolder = false;

    SegmentedControl* m_tabs;
    QPushButton* m_add;
    SettingsCard* m_form;
    QLineEdit* m_newName;
    QComboBox* m_parent;
    QPushButton* m_create;
    QWidget* m_emptyState;
    QScrollArea* m_scroll;
    QWidget* m_rowsHost;
    QVBoxLayout* m_rowsLayout;
    QLabel* m_moreRows; // "moreFolders": how many folders past the row cap are not shown
    QList<FolderRow*> m_rows;
};

} // namespace quillary
