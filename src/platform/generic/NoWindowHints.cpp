#include "platform/WindowHints.h"

namespace quillary {

Qt::WindowFlags selfPlacedWindowFlags()
{
    return {};
}

bool setBlurBehind(QWidget&, const QPainterPath&)
{
    return false;
}

void showOnEveryDesktop(QWidget&) {}

void moveToCurrentDesktop(QWidget&) {}

} // namespace quillary
