#include "ui/widgets/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace quillary {

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent)
    , m_layout(new QHBoxLayout(this))
    , m_group(new QButtonGroup(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_group->setExclusive(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) { emit activated(m_values.value(id)); });
}

void SegmentedControl::addSegment(const QString& label, const QString& value)
{
    auto* segment = new QToolButton(this);
    segment->setText(label);
    segment->setCheckable(true);
    segment->setAutoRaise(false);
    segment->setAccessibleName(label);
    segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    segment->setFocusPolicy(Qt::StrongFocus);
    m_group->addButton(segment, int(m_values.size()));
    m_values.append(value);
    m_layout->addWidget(segment);
}

QString SegmentedControl::value() const
{
    return m_values.value(m_group->checkedId());
}

void SegmentedControl::setValue(const QString& value)
{
    const qsizetype index = m_values.indexOf(value);
    if (index < 0) {
        // An exclusive group cannot show "none": lift the rule while clearing.
        m_group->setExclusive(false);
        for (QAbstractButton* segment : m_group->buttons())
            segment->setChecked(false);
        m_group->setExclusive(true);
        return;
    }
    m_group->button(int(index))->setChecked(true);
}

} // namespace quillary
