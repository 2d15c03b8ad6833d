#include "support/FakeServices.h"

#include "handle/CuePlayer.h"

namespace quillary::test {

std::unique_ptr<AppDelegate> DelegateHarness::makeDelegate(LoginItemService::Status status,
                                                           std::optional<QString> failure)
{
    AppServices services;
    auto fakeItems = std::make_unique<FakeLoginItems>(status, std::move(failure));
    items = fakeItems.get();
    services.loginItems = std::move(fakeItems);
    auto fakeInteraction = std::make_unique<FakeInteraction>();
    interaction = fakeInteraction.get();
    services.interaction = std::move(fakeInteraction);
    services.screenshotFolder = [this] { return screenshotFolder; };
    auto fakeSounds = std::make_unique<FakeSoundOutput>();
    sounds = fakeSounds.get();
    services.cues = std::make_unique<CuePlayer>(std::move(fakeSounds));
    auto fakeHosts = std::make_unique<FakeTrayHostWatcher>(hasTrayHost);
    trayHosts = fakeHosts.get();
    services.trayHosts = std::move(fakeHosts);
    return std::make_unique<AppDelegate>(store, std::move(services));
}

} // namespace quillary::test
