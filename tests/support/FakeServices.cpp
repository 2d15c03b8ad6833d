#include "support/FakeServices.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillary::test {

DelegateHarness::DelegateHarness()
    : m_savedHome(qgetenv("HOME"))
{
    qputenv("HOME", home.path().toUtf8());
}

DelegateHarness::~DelegateHarness()
{
    qputenv("HOME", m_savedHome);
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
