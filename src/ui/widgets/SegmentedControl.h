#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QHBoxLayout;

namespace quillary {

// A row of joined segments, one of which is chosen: each segment shows a label and carries a value.
// Arrow keys move the choice, as in a radio group; screen readers hear each segment as a radio button
// with its label. A value that no segment carries leaves none chosen.
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    void addSegment(const QString& label, const QString& value);
    // The chosen segment's value, empty when none is chosen.
    QString value() const;
    // Chooses the segment carrying `value` without emitting `activated`.
    void setValue(const QString& value);

signals:
    // The user chose the segment carrying `value`.
    void activated(const QString& value);

private:
    QHBoxLayout* m_layout;
    QButtonGroup* m_group;
    QStringList m_values;
};

} // namespace quillary
