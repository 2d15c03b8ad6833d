#include "handle/CuePlayer.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace quillary {
namespace {

// Low is quieter than med, anything else full; unknown and empty names play nothing.
TEST(CuePlayer, PlaysTheNamedCueAtTheLevelsVolume)
{
    auto* output = new test::FakeSoundOutput;
    CuePlayer player{std::unique_ptr<SoundOutput>(output)};
    for (const auto& [name, level] :
         {std::pair{"Glass", "med"}, {"Ping", "low"}, {"Glass", "HIGH"}, {"Pop", "low"}, {"", "low"}})
        player.playCue(name, level);
    const auto& calls = output->played;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(calls[0].clip->samples, calls[1].clip->samples);
    EXPECT_EQ(calls[2].clip, calls[0].clip) << "decoded once";
    EXPECT_TRUE(0 < calls[1].volume && calls[1].volume < calls[0].volume && calls[2].volume == 1.0);
}

} // namespace
} // namespace quillary
