#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLabel;
class QVBoxLayout;

namespace quillary {

class FolderStore;

// The content of the card shown for a new screenshot: its thumbnail, "New Folder" and "Move to Trash"
// buttons, and one button per saved folder. The folder buttons follow the stored list while the card
// is open. The card paints its own rounded background and is 420 points wide, as tall as its content.
//
// Buttons are found by object name: "folderButton" (property "folderKind" is "standard" or
// "custom", "folderID" the folder's id text), "newFolderButton", "trashButton"; the thumbnail label
// is "thumbnail" and the badge "pendingBadge". At most 30 folders get a button; a longer list ends
// with the label "moreFolders", which says how many are left out.
class QuickMovePopup final : public QWidget {
    Q_OBJECT

public:
    // `total` is the queue length, shown when more than one screenshot waits.
    explicit QuickMovePopup(const QUrl& fileURL, int total, FolderStore& folders, QWidget* parent = nullptr);
    ~QuickMovePopup() override;

    // The action handlers. Clicks that come within the platform's double-click interval of the card
    // being shown are ignored: the next screenshot's card appears under the pointer at once, and the
    // second click of a double-click must not act on a screenshot the user has not seen.
    std::function<void(const QString& folderID)> onMove;
    std::function<void()> onDelete;
    std::function<void()> onQuickCreateFolder;

    // Over a compositor blur the card takes a lighter fill.
    void setBackdropBlurred(bool blurred);
    bool isBackdropBlurred() const { return m_backdropBlurred; }

signals:
    // The card has resized itself to new content (a changed folder list, a thumbnail that could not
    // be decoded after all).
    void contentSizeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLayout* makeActionColumn(bool withThumbnail);
    QLayout* makeHeader(int total);
    void loadThumbnail(const QString& path);
    void dropThumbnail();
    void rebuildFolderGrid();
    int folderGridWidth() const;
    void refit();
    bool acceptsActions() const;

    FolderStore& m_folders;
    QVBoxLayout* m_folderColumn = nullptr;
    QPointer<QWidget> m_folderGrid;
    QPointer<QLabel> m_thumbnail;
    bool m_backdropBlurred = false;
    QElapsedTimer m_shownFor;
};

} // namespace quillary
