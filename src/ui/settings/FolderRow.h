#pragma once

#include "folders/FolderConfig.h"

#include <QWidget>

#include <functional>
#include <optional>

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace quillary {

class Interaction;
class SegmentedControl;

// One folder in the Folders page's list: a button that selects it (selection mark, icon, name, and the
// path of a custom folder), and for a custom folder the edit and trash buttons. The edit button opens
// the rule editor under the row while the row is selected: prefix, format, date and "Change". The row
// only shows; what it asks for goes through the callbacks, and the page sets its values again after
// every change of the stored list. Main thread only.
class FolderRow final : public QWidget {
    Q_OBJECT

public:
    // `interaction` asks the confirmations; without one nothing that needs a confirmation happens.
    FolderRow(const FolderConfig& folder, Interaction* interaction, QWidget* parent = nullptr);

    // Shows `folder`, the element at `storedIndex` of the stored list. A field keeps its text (and the
    // cursor in it) when it already shows the value.
    void setFolder(const FolderConfig& folder, qsizetype storedIndex);
    const FolderConfig& folder() const { return m_folder; }
    qsizetype storedIndex() const { return m_storedIndex; }
    bool isStandard() const;

    // The id text now selected. A change to another folder's id closes this row's editor.
    void setSelectedID(const QString& selectedID);
    bool isSelected() const;
    // Whether the rule differs from what was last committed (the "Change" button is offered).
    void setChangeEnabled(bool enabled);
    // The editor was opened and the row is selected, so it shows.
    bool isEditorShown() const;

    QAbstractButton* selectButton() const { return m_select; }
    QToolButton* editButton() const { return m_edit; }
    QToolButton* trashButton() const { return m_trash; }
    QLineEdit* prefixField() const { return m_prefix; }
    SegmentedControl* formatControl() const { return m_format; }
    QCheckBox* dateBox() const { return m_date; }
    QPushButton* changeButton() const { return m_change; }

    // The row's button was clicked.
    std::function<void()> onSelect;
    // An edit of the rule, to apply to the stored element.
    std::function<void(const std::function<void(FolderConfig&)>& edit)> onEdit;
    // "Move to Trash" was confirmed.
    std::function<void(const QUuid& id)> onDelete;
    // "Rename Files" was confirmed.
    std::function<void(const QUuid& id)> onCommitChange;

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeEditor();
    void applyStyle();
    void updateEditor();
    void confirmDelete();
    void confirmChange();

    FolderConfig m_folder;
    qsizetype m_storedIndex = -1;
    Interaction* m_interaction;
    QString m_selectedID;
    bool m_isEditing = false;
    bool m_isChangeEnabled = false;
    std::optional<bool> m_isChangeDimmed;

    QWidget* m_header;
    QAbstractButton* m_select;
    QToolButton* m_edit;
    QToolButton* m_trash;
    QWidget* m_editor;
    QLineEdit* m_prefix = nullptr;
    SegmentedControl* m_format = nullptr;
    QCheckBox* m_date = nullptr;
    QPushButton* m_change = nullptr;
};

} // namespace quillary
