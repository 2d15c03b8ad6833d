#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QVBoxLayout;
class QWidget;

namespace quillary {

// The vertical stack of a settings page, `spacing` apart, left-aligned.
QVBoxLayout* pageStack(QWidget* page, int spacing);
// A section heading, with a caption pulled up under it when `caption` is not empty.
void addHeading(QVBoxLayout* page, const QString& heading, const QString& caption = {});
// A 120 px picker of `names`, each item showing and carrying its name.
QComboBox* folderNamePicker(const QStringList& names, QWidget* parent);
// Disables `control` and draws it at `opacity` while `dimmed`; back to normal otherwise.
void setDimmed(QWidget* control, bool dimmed, qreal opacity);

} // namespace quillary
