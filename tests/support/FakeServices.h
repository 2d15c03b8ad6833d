#pragma once

#include "app/AppDelegate.h"
#include "app/Interaction.h"
#include "app/Preferences.h"
#include "platform/LoginItemService.h"

#include <QTemporaryDir>

namespace quillary::test {

class FakeLoginItems final : public LoginItemService {
public:
    explicit FakeLoginItems(Status initial, std::optional<QString> failure = std::nullopt)
        : current(initial)
        , registerFailure(std::move(failure))
    {
    }
    Status status() const override { return current; }
    std::optional<QString> registerApp() override
    {
        ++registerCalls;
        if (!registerFailure)
            current = Status::enabled;
        return registerFailure;
    }
    std::optional<QString> unregisterApp() override
    {
        ++unregisterCalls;
        current = Status::notRegistered;
        return std::nullopt;
    }

    Status current;
    std::optional<QString> registerFailure;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

// Records alerts instead of showing them, and answers with `answer`.
class FakeInteraction final : public Interaction {
public:
    int runModal(const ModalAlert& alert) override
    {
        alerts.append(alert);
        return answer;
    }
    void openUrl(const QUrl& url) override { openedUrls.append(url); }

    int answer = 1;
    QList<ModalAlert> alerts;
    QList<QUrl> openedUrls;
};

// A throw-away HOME and preference file, and delegates built on fake services.
class DelegateHarness {
public:
    DelegateHarness();
    ~DelegateHarness();

    std::unique_ptr<AppDelegate>
    makeDelegate(LoginItemService::Status status = LoginItemService::Status::notRegistered,
                 std::optional<QString> failure = std::nullopt);

    QTemporaryDir home;
    QTemporaryDir config;
    Preferences store{config.filePath(QStringLiteral("Quillary.conf"))};
    FakeLoginItems* items = nullptr;
    FakeInteraction* interaction = nullptr;
    // What the screenshot-folder lookup answers; empty falls back to the home Desktop.
    QString screenshotFolder;

private:
    QByteArray m_savedHome;
};

// While alive, the calling thread is subject to file permission bits even as root (the
// capabilities that override them are lowered from its effective set). Does nothing for other users.
class PermissionBitsEnforced {
public:
    PermissionBitsEnforced();
    ~PermissionBitsEnforced();
    // False when root's overrides could not be lowered; permission tests must skip then.
    bool isEffective() const { return m_effective; }

private:
    bool m_lowered = false;
    bool m_effective = false;
};

} // namespace quillary::test
