#pragma once

#include "app/AppDelegate.h"
#include "platform/TrayHostWatcher.h"
#include "support/Fakes.h"

namespace quillary::test {

// A tray host that is there or not as the test says.
class FakeTrayHostWatcher final : public TrayHostWatcher {
public:
    explicit FakeTrayHostWatcher(bool available)
        : m_available(available)
    {
    }
    bool isHostAvailable() const override { return m_available; }
    void watchForHost() override {}

private:
    bool m_available;
};

// A throw-away session (see SessionHome) and delegates built on fake services.
class DelegateHarness : public SessionHome {
public:
    std::unique_ptr<AppDelegate>
    makeDelegate(LoginItemService::Status status = LoginItemService::Status::notRegistered,
                 std::optional<QString> failure = std::nullopt);

    FakeLoginItems* items = nullptr;
    FakeInteraction* interaction = nullptr;
    FakeSoundOutput* sounds = nullptr;
    FakeTrayHostWatcher* trayHosts = nullptr;
    // Whether the next delegate's session has a tray host.
    bool hasTrayHost = false;
    // What the screenshot-folder lookup answers; empty falls back to the home Desktop.
    QString screenshotFolder;
};

} // namespace quillary::test
