#pragma once

#include "platform/SoundOutput.h"

#include <QString>

#include <memory>
#include <thread>

namespace quillary {

struct PulsePlaybackState;

// Plays clips through PulseAudio (or PipeWire's PulseAudio service) on a worker thread started with
// the first clip. The stream stays open for a moment after a clip so quick repeats start at once.
class PulseSoundOutput final : public SoundOutput {
public:
    explicit PulseSoundOutput(QString applicationName);
    // Stops the sound; waits briefly for the worker and leaves it to finish alone if the server hangs.
    ~PulseSoundOutput() override;

    void play(std::shared_ptr<const PcmClip> clip, double volume) override;

private:
    std::shared_ptr<PulsePlaybackState> m_shared;
    std::thread m_worker;
};

} // namespace quillary
