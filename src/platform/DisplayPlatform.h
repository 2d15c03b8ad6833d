#pragma once

#include <QString>

namespace quillary {

// What the session offers for windows, from its environment.
struct DisplayEnvironment {
    QString requestedPlatform; // QT_QPA_PLATFORM as the user set it
    QString x11Display;        // DISPLAY: an X server, or XWayland on a Wayland session
    QString waylandDisplay;    // WAYLAND_DISPLAY

    static DisplayEnvironment fromProcess();
};

// The Qt platform Quillary's windows run on, and the one line that says which and why.
struct DisplayPlatformChoice {
    QString platform; // for QT_QPA_PLATFORM; empty leaves the user's choice in place
    QString line;     // "📍 Quillary: …", or a "⚠️" line when there is no display at all
};

// A platform the user asked for always wins. On a Wayland session the windows go through XWayland
// when it is there: a Wayland client may not ask for a place at all, and the card belongs at the
// lower right and the toast on the pointer's screen (see selfPlacedWindowFlags). Without XWayland
// they run natively, and the compositor places them. Without any display, the offscreen platform
// (everything but the windows works).
DisplayPlatformChoice chooseDisplayPlatform(const DisplayEnvironment& env);

} // namespace quillary
