#include "handle/CuePlayer.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QIODevice>

namespace quillary {
namespace {

// A RIFF/WAVE file at 8000 Hz; an odd-sized chunk before the data exercises the padding.
QByteArray wav(quint16 format, quint16 channels, quint16 bits, const QByteArray& samples)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(48 + samples.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << format << channels << quint32(8000) << quint32(8000u * channels * bits / 8)
        << quint16(channels * bits / 8) << bits;
    out.writeRawData("LIST\3\0\0\0abc\0data", 16);
    out << quint32(samples.size());
    return bytes + samples;
}

TEST(CuePlayer, DecodesWholeSixteenBitPcmOnly)
{
    const QByteArray stereo("\x01\x00\xff\xff\x00\x80\xff\x7f", 8);
    const PcmClip clip = CuePlayer::decodeWav(wav(1, 2, 16, stereo)).value_or(PcmClip());
    EXPECT_EQ(std::tuple(clip.sampleRate, clip.channels, clip.samples),
              std::tuple(8000, 2, std::vector<qint16>{1, -1, -32768, 32767}));
    const QByteArray good = wav(1, 1, 16, stereo);
    for (const QByteArray& bad :
         {wav(3, 1, 16, stereo), wav(1, 1, 8, stereo), wav(1, 2, 16, stereo.left(6)),
          good.left(good.size() - 1), good.left(40), QByteArray("RIFF"), QByteArray()})
        EXPECT_FALSE(CuePlayer::decodeWav(bad)) << bad.toHex().toStdString();
}

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
