#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

namespace quillary {

// Decoded 16-bit PCM, samples interleaved by channel.
struct PcmClip final {
    int sampleRate = 0;
    int channels = 0;
    std::vector<qint16> samples;

    double durationSeconds() const
    {
        return sampleRate > 0 && channels > 0
                   ? static_cast<double>(samples.size()) / (static_cast<double>(sampleRate) * channels)
                   : 0.0;
    }
};

// Plays short clips on the system's sound server. Calls never wait for the server: the work happens
// on a thread of its own, and without a server or device a clip is dropped without a word.
class SoundOutput {
public:
    // The platform's output; `createDefault` is defined by the implementation CMake compiles.
    static std::unique_ptr<SoundOutput> createDefault();

    virtual ~SoundOutput() = default;

    // Cuts off whatever is still playing and starts `clip` with its samples scaled by `volume` (0…1).
    virtual void play(std::shared_ptr<const PcmClip> clip, double volume) = 0;

protected:
    SoundOutput() = default;
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;
};

} // namespace quillary
