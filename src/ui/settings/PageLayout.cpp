#include "ui/settings/PageLayout.h"

#include "ui/widgets/SectionLabel.h"
#include "ui/widgets/SettingsStyle.h"

#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QVBoxLayout>

namespace quillary {

QVBoxLayout* pageStack(QWidget* page, int spacing)
{
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    // No top alignment: an aligned layout is sized to its size hint, which leaves out the extra lines of
    // a subtitle that wraps. The view gives a page no more height than it asks for.
    return stack;
}

void addHeading(QVBoxLayout* page, const QString& heading, const QString& caption)
{
    QWidget* parent = page->parentWidget();
    if (caption.isEmpty()) {
        page->addWidget(new SectionLabel(heading, parent));
        return;
    }
    // The caption sits 12 px closer to the heading than the page's spacing.
    auto* block = new QWidget(parent);
    auto* rows = new QVBoxLayout(block);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(std::max(0, page->spacing() - 12));
    rows->addWidget(new SectionLabel(heading, block));
    auto* text = new QLabel(caption, block);
    text->setFont(style::font(text->font(), 12));
    style::useSecondaryText(*text, text->palette());
    rows->addWidget(text);
    page->addWidget(block);
}

QComboBox* folderNamePicker(const QStringList& names, QWidget* parent)
{
    auto* picker = new QComboBox(parent);
    for (const QString& name : names)
        picker->addItem(name, name);
    picker->setFixedWidth(120);
    return picker;
}

void setDimmed(QWidget* control, bool dimmed, qreal opacity)
{
    control->setEnabled(!dimmed);
    if (!dimmed) {
        control->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = new QGraphicsOpacityEffect(control);
    effect->setOpacity(opacity);
    control->setGraphicsEffect(effect);
}

} // namespace quillary
