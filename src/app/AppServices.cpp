#include "app/AppDelegate.h"

#include "core/Diagnostics.h"
#include "core/Interaction.h"
#include "handle/CuePlayer.h"
#include "platform/ClipboardSource.h"
#include "platform/LoginItemService.h"
#include "platform/ScreenshotLocation.h"
#include "platform/TrayHostWatcher.h"
#include "ui/WidgetInteraction.h"

namespace quillary {

AppServices::AppServices() = default;
AppServices::~AppServices() = default;
AppServices::AppServices(AppServices&&) noexcept = default;
AppServices& AppServices::operator=(AppServices&&) noexcept = default;

AppServices AppServices::createDefault()
{
    AppServices services;
    services.loginItems = LoginItemService::createDefault();
    services.interaction = std::make_unique<WidgetInteraction>();
    services.cues = std::make_unique<CuePlayer>();
    services.trayHosts = TrayHostWatcher::create();
    services.screenshotFolder = [] {
        return screenshotSaveFolder(ScreenshotLocationEnvironment::fromProcess());
    };
    // On a Wayland session the compositor's clipboard-manager protocol, where it has one; else Qt's
    // clipboard, which XWayland serves.
    QString protocol;
    services.clipboard = ClipboardSource::createWayland(&protocol);
    if (services.clipboard)
        printLine(QStringLiteral("📍 Quillary: Clipboard read through %1 on Wayland").arg(protocol));
    else
        services.clipboard = ClipboardSource::createDefault();
    return services;
}

} // namespace quillary
