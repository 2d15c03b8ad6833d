#include "app/AppDelegate.h"

#include "app/Interaction.h"
#include "platform/LoginItemService.h"
#include "platform/ScreenshotLocation.h"
#include "ui/WidgetInteraction.h"

namespace quillary {

AppServices AppServices::createDefault()
{
    AppServices services;
    services.loginItems = LoginItemService::createDefault();
    services.interaction = std::make_unique<WidgetInteraction>();
    services.screenshotFolder = [] {
        return screenshotSaveFolder(ScreenshotLocationEnvironment::fromProcess());
    };
    return services;
}

} // namespace quillary
