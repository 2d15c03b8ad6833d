#include "app/AppDelegate.h"

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
    services.clipboard = ClipboardSource::createDefault();
    return services;
}

} // namespace quillary
