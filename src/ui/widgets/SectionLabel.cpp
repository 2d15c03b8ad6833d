#include "ui/widgets/SectionLabel.h"

#include "ui/widgets/SettingsStyle.h"

#include <QEvent>
#include <QGuiApplication>

namespace quillary {

SectionLabel::SectionLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    applyStyle();
}

void SectionLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // Its own palette is set below, so only a change of the application's (a new theme) matters.
    if (event->type() == QEvent::ApplicationPaletteChange)
        applyStyle();
}

void SectionLabel::applyStyle()
{
    QFont heading = style::font(font(), 10, QFont::Bold);
    heading.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    setFont(heading);
    style::useSecondaryText(*this, QGuiApplication::palette());
}

} // namespace quillary
