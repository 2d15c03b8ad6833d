#include "support/FakeServices.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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

namespace {

constexpr unsigned overrideMask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool setEffectiveOverrides(bool raised)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective = raised ? (data[0].effective | (data[0].permitted & overrideMask))
                               : (data[0].effective & ~overrideMask);
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

PermissionBitsEnforced::PermissionBitsEnforced()
{
    if (geteuid() != 0) {
        m_effective = true;
        return;
    }
    // Capabilities are per thread: this affects only the caller, which is what the tests watch from.
    m_lowered = setEffectiveOverrides(false);
    m_effective = m_lowered;
}

PermissionBitsEnforced::~PermissionBitsEnforced()
{
    if (m_lowered)
        setEffectiveOverrides(true);
}

} // namespace quillary::test
