#include "platform/DisplayPlatform.h"

namespace quillary {

DisplayEnvironment DisplayEnvironment::fromProcess()
{
    return {qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("DISPLAY"),
            qEnvironmentVariable("WAYLAND_DISPLAY")};
}

DisplayPlatformChoice chooseDisplayPlatform(const DisplayEnvironment& env)
{
    if (!env.requestedPlatform.isEmpty())
        return {{},
                QStringLiteral("📍 Quillary: Windows on the %1 platform, as QT_QPA_PLATFORM asks")
                    .arg(env.requestedPlatform)};
    if (!env.waylandDisplay.isEmpty() && !env.x11Display.isEmpty())
        return {QStringLiteral("xcb"),
                QStringLiteral("📍 Quillary: Wayland session: windows through XWayland (xcb), so the card "
                               "and the toast can place themselves")};
    if (!env.waylandDisplay.isEmpty())
        return {QStringLiteral("wayland"),
                QStringLiteral("📍 Quillary: Wayland session without XWayland: windows on Wayland, where "
                               "the compositor places the card")};
    if (!env.x11Display.isEmpty())
        return {QStringLiteral("xcb"), QStringLiteral("📍 Quillary: X11 session: windows on xcb")};
    return {QStringLiteral("offscreen"),
            QStringLiteral("⚠️ Quillary: No display server (DISPLAY and WAYLAND_DISPLAY are unset); "
                           "running headless on the offscreen platform")};
}

} // namespace quillary
