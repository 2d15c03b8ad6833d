#pragma once

#include "core/Interaction.h"
#include "core/Preferences.h"
#include "platform/LoginItemService.h"
#include "platform/SoundOutput.h"

#include <QTemporaryDir>

#include <optional>
#include <vector>

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
    std::optional<QString> runTextPrompt(const ModalAlert& alert, const QString& placeholder) override
    {
        alerts.append(alert);
        placeholders.append(placeholder);
        return typedText;
    }
    void openUrl(const QUrl& url) override { openedUrls.append(url); }
    std::optional<QUrl> chooseFolder(const QString& message, const QString& prompt) override
    {
        folderChoosers.append({message, prompt});
        return chosenFolder;
    }
    void beep() override { ++beeps; }

    int answer = 1;
    std::optional<QString> typedText; // nothing: the prompt was cancelled
    QList<ModalAlert> alerts;
    QStringList placeholders;
    QList<QUrl> openedUrls;
    std::optional<QUrl> chosenFolder;  // nothing: the chooser was cancelled
    QList<QStringList> folderChoosers; // message and prompt of each
    int beeps = 0;
};

// Records what would have been played.
class FakeSoundOutput final : public SoundOutput {
public:
    struct Played {
        std::shared_ptr<const PcmClip> clip;
        double volume;
    };
    void play(std::shared_ptr<const PcmClip> clip, double volume) override
    {
        played.push_back({clip, volume});
    }

    std::vector<Played> played;
};

// A throw-away HOME (and XDG folders) set in the environment while it lives, and a preference file.
class SessionHome {
public:
    SessionHome();
    ~SessionHome();

    QTemporaryDir home;
    QTemporaryDir config;
    Preferences store{config.filePath(QStringLiteral("Quillary.conf"))};

private:
    QList<std::optional<QByteArray>> m_savedEnvironment;
};

} // namespace quillary::test
