#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace quillary {

// The settings window's monochrome symbols ("gearshape", "folder.badge.plus", …), drawn from the
// SVGs under the ":/symbols/" resources in `color`, sharp at 1x and 2x. A name without a drawing
// gives a null icon.
QIcon symbolIcon(const QString& name, const QColor& color, int side);

// Whether there is a drawing for `name`.
bool hasSymbol(const QString& name);

} // namespace quillary
