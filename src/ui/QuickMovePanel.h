#pragma once

#include <QMetaObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class QScreen;

namespace quillary {

class QuickMovePopup;

// Where the panel goes: its right edge 10 points in from the right of the screen's available area, its
// bottom edge 160 points above that area's bottom, kept inside the area when the area is too small.
QPoint quickMovePanelTopLeft(const QRect& availableGeometry, const QSize& panelSize);

// The floating window that hosts the quick-move card: frameless, above other windows, never focused
// and never activating the app, so the user can keep typing where they were. When the card changes
// height the panel grows or shrinks upward, keeping its bottom edge.
class QuickMovePanel final : public QWidget {
    Q_OBJECT

public:
    explicit QuickMovePanel(QWidget* parent = nullptr);
    ~QuickMovePanel() override;

    // Takes ownership of `content` (may be null); the previous content is deleted.
    void setContent(QuickMovePopup* content);
    QuickMovePopup* content() const;

    // Places the panel in the lower right of `screen` and keeps it there as the content resizes or
    // the screen's available area changes.
    void placeOnScreen(QScreen* screen);

    void showWithoutActivating();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitToContent();
    void updateBlurBehind();

    QPointer<QuickMovePopup> m_content;
    QPointer<QScreen> m_screen;
    QMetaObject::Connection m_screenConnection;
    bool m_backdropBlurred = false;
};

} // namespace quillary
