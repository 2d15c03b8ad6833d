#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quillary {

// Everything the screenshot-folder lookup reads from the session, so it can be run against a
// made-up home.
struct ScreenshotLocationEnvironment final {
    QString home;           // $HOME
    QString configHome;     // $XDG_CONFIG_HOME, or home + "/.config" when unset, empty or relative
    QString currentDesktop; // $XDG_CURRENT_DESKTOP (colon-separated list)
    // Output of `gsettings get org.gnome.gnome-screenshot auto-save-directory`; nothing when
    // gsettings is missing or fails. Only called when no screenshot tool's own file names a folder.
    std::function<std::optional<QString>()> gnomeScreenshotAutoSaveDirectory;

    // The running session's values; the gsettings runner is given at most about two seconds.
    static ScreenshotLocationEnvironment fromProcess();
};

// The absolute folder where the desktop's screenshot tool saves, never empty: the folder set in the
// first configured tool (Spectacle, Flameshot, xfce4-screenshooter, ksnip, gnome-screenshot), else
// GNOME's own Pictures/Screenshots on a GNOME session, else ~/Desktop. Off Linux (the generic
// platform) it is the user's desktop folder as Qt knows it. The folder may not exist yet; creating it
// is up to the caller.
QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env);

} // namespace quillary
