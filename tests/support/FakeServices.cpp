#include "support/FakeServices.h"

namespace quillary::test {

namespace {

constexpr const char* sessionVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};

} // namespace

DelegateHarness::DelegateHarness()
{
    for (const char* name : sessionVariables)
        m_savedEnvironment.append(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                  : std::nullopt);
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share")).toUtf8());
}

DelegateHarness::~DelegateHarness()
{
    for (qsizetype i = 0; i < m_savedEnvironment.size(); ++i) {
        if (m_savedEnvironment[i])
            qputenv(sessionVariables[i], *m_savedEnvironment[i]);
        else
            qunsetenv(sessionVariables[i]);
    }
}

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
