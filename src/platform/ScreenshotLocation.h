#pragma once

#include "platform/ScreenshotToolNames.h"

#include <QString>

#include <functional>
#include <optional>

namespace quillary {

// Everything the screenshot-folder lookup reads from the session, so it can be run against a
// made-up home.
struct ScreenshotLocationEnvironment final {
    QString home;              // $HOME
    QString configHome;        // $XDG_CONFIG_HOME, or home + "/.config" when unset, empty or relative
    QString currentDesktop;    // $XDG_CURRENT_DESKTOP (colon-separated list)
    QString kdeSessionVersion; // $KDE_SESSION_VERSION ("5", "6")
    // Output of `gsettings get org.gnome.gnome-screenshot auto-save-directory`; nothing when
    // gsettings is missing or fails. Only called when no screenshot tool's own file names a folder.
    std::function<std::optional<QString>()> gnomeScreenshotAutoSaveDirectory;

    // The running session's values; the gsettings runner is given at most about two seconds.
    static ScreenshotLocationEnvironment fromProcess();
};

// The absolute folder where the desktop's screenshot tool saves, never empty: the folder set in the
// first configured tool (Spectacle, Flameshot, xfce4-screenshooter, ksnip, gnome-screenshot), else
// GNOME's own Pictures/Screenshots on a GNOME session, else Spectacle's own Pictures (Plasma 5) or
// Pictures/Screenshots (Plasma 6) on a KDE session, else the user's Desktop, all as the session names
// them in user-dirs.dirs. Off Linux (the generic platform) it is the user's Desktop. The folder may
// not exist yet; creating it is up to the caller.
QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env);

// The names that Flameshot and ksnip give the screenshots they save into `folder`: for each of them
// whose settings name `folder` as its save folder, its configured file-name pattern, or its default
// one. Empty for any other folder, and off Linux.
ScreenshotToolNames screenshotToolNames(const QString& folder, const ScreenshotLocationEnvironment& env);

} // namespace quillary
