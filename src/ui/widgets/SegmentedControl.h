#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

class QAbstractButton;

namespace quillary {

// A row of joined segments, one of which is chosen: each segment shows a label and carries a value.
// The control is one stop in the Tab chain; the arrow keys move the choice, as in a radio group, and
// Return is left to the window. Screen readers hear a group with the control's accessible name, and
// each segment as a radio button with its label and checked state. A value that no segment carries
// leaves none chosen.
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    void addSegment(const QString& label, const QString& value);
    // The chosen segment's value, empty when none is chosen.
    QString value() const;
    // Chooses the segment carrying `value` without emitting `activated`.
    void setValue(const QString& value);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user chose the segment carrying `value`.
    void activated(const QString& value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int chosenIndex() const;
    // Only the chosen segment (or the first, when none is) takes Tab focus.
    void updateTabStop();
    void placeSegments();
    // Chooses and focuses the segment `steps` away from `from`, as the user did; false at either end.
    bool step(QAbstractButton* from, int steps);

    QList<QAbstractButton*> m_segments;
    QStringList m_values;
};

} // namespace quillary
