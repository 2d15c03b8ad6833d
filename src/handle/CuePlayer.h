#pragma once

#include "platform/SoundOutput.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>

namespace quillary {

// Plays the short sounds that confirm a filed screenshot: "Glass" and "Ping", shipped as resources.
// Playing never waits for the sound and is silent where there is no sound device.
class CuePlayer final {
public:
    explicit CuePlayer();
    explicit CuePlayer(std::unique_ptr<SoundOutput> output);
    ~CuePlayer();

    // Cuts off a cue that is still playing and starts `soundName` at the volume of `level`. Unknown
    // names play nothing.
    void playCue(const QString& soundName, const QString& level);

    // "low" → 0.12, "med" → 0.22, anything else full volume.
    static double volumeForLevel(const QString& level);

    // The named cue decoded from the resources; nothing for an unknown name.
    static std::optional<PcmClip> loadCue(const QString& soundName);

    // A RIFF/WAVE file of 16-bit PCM; nothing for anything else or a damaged file.
    static std::optional<PcmClip> decodeWav(const QByteArray& bytes);

private:
    std::unique_ptr<SoundOutput> m_output;
    QHash<QString, std::shared_ptr<const PcmClip>> m_clips;
};

} // namespace quillary
