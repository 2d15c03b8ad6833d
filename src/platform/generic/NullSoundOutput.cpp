#include "platform/SoundOutput.h"

namespace quillary {
namespace {

// Where no sound server client is implemented, cues are silent.
class NullSoundOutput final : public SoundOutput {
public:
    explicit NullSoundOutput() = default;
    void play(std::shared_ptr<const PcmClip>, double) override {}
};

} // namespace

std::unique_ptr<SoundOutput> SoundOutput::createDefault()
{
    return std::make_unique<NullSoundOutput>();
}

} // namespace quillary
