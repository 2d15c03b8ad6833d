#pragma once

#include <Qt>

class QPainterPath;
class QWidget;

namespace quillary {

// Requests to the window manager and compositor that Qt has no API for. Where the platform has no
// such request they do nothing. The window's native handle must exist (QWidget::winId()).

// Flags to add to a window that must appear exactly where it is put (the card, the toast). Under
// XWayland the compositor manages X windows and ignores where a client asks them to go (sway centres
// them, weston cascades them), so there these windows bypass window management: the compositor then
// shows them where the X server has them, on every workspace, and gives them no keyboard focus. An
// X11 window manager honours the position, so under X11 they stay managed. Needs the application.
Qt::WindowFlags selfPlacedWindowFlags();

// Asks the compositor to blur what lies behind `shape` (logical pixels, window coordinates). Only
// done where the compositor announces the feature (KWin's blur on X11); returns whether it was asked.
bool setBlurBehind(QWidget& window, const QPainterPath& shape);

// Keeps the window on every virtual desktop. Window managers forget this when a window is hidden,
// so it is set before every showing.
void showOnEveryDesktop(QWidget& window);

// Moves the shown window to the virtual desktop the user is on now.
void moveToCurrentDesktop(QWidget& window);

} // namespace quillary
