#include "support/FakeServices.h"

#include "handle/CuePlayer.h"

namespace quillary::test {

std::unique_ptr<AppDelegate> DelegateHarness::makeDelegate(LoginItemService::Status status,
                                                           std::optional<QString> failure)
{
    const auto keep = [](auto*& kept, auto fake) { // hands `fake` on, keeping a pointer to it
        kept = fake.get();
        return fake;
    };
    AppServices services;
    services.loginItems = keep(items, std::make_unique<FakeLoginItems>(status, std::move(failure)));
    services.interaction = keep(interaction, std::make_unique<FakeInteraction>());
    services.screenshotFolder = [this] { return screenshotFolder; };
    services.cues = std::make_unique<CuePlayer>(keep(sounds, std::make_unique<FakeSoundOutput>()));
    services.trayHosts = keep(trayHosts, std::make_unique<FakeTrayHostWatcher>(hasTrayHost));
    return std::make_unique<AppDelegate>(store, std::move(services));
}

} // namespace quillary::test
