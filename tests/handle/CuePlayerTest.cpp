#include "handle/CuePlayer.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace quillary {
namespace {

using namespace std::chrono_literals;

TEST(CuePlayer, VolumeForLevel)
{
    const std::pair<const char*, double> cases[] = {{"low", 0.12},   {"med", 0.22}, {"high", 1.0},
                                                    {"medium", 1.0}, {"", 1.0},     {"LOW", 1.0}};
    for (const auto& [level, volume] : cases)
        EXPECT_DOUBLE_EQ(CuePlayer::volumeForLevel(QString::fromUtf8(level)), volume) << level;
}

TEST(CuePlayer, ShippedCuesDecode)
{
    struct Case {
        QString name;
        double minSeconds, maxSeconds;
    };
    for (const auto& [name, minSeconds, maxSeconds] :
         {Case{QStringLiteral("Glass"), 0.3, 0.4}, Case{QStringLiteral("Ping"), 0.2, 0.3}}) {
        SCOPED_TRACE(name.toStdString());
        const auto clip = CuePlayer::loadCue(name);
        ASSERT_TRUE(clip);
        EXPECT_EQ(std::pair(clip->sampleRate, clip->channels), std::pair(44100, 1));
        EXPECT_TRUE(clip->durationSeconds() >= minSeconds && clip->durationSeconds() <= maxSeconds);
        // Peak about −3 dBFS, and a soft start.
        const auto peak = std::abs(*std::max_element(clip->samples.begin(), clip->samples.end(),
                                                     [](int a, int b) { return std::abs(a) < std::abs(b); }));
        EXPECT_NEAR(20 * std::log10(peak / 32768.0), -3.0, 0.1);
        EXPECT_LT(std::abs(clip->samples.front()), 100);
    }
    EXPECT_FALSE(CuePlayer::loadCue(QStringLiteral("glass")));
    EXPECT_FALSE(CuePlayer::loadCue(QStringLiteral("Basso")));
}

// Little-endian bytes of `value`, `count` of them.
QByteArray le(quint32 value, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}

QByteArray wav(quint16 format, quint16 channels, quint16 bits, const QByteArray& samples)
{
    const QByteArray fmt = le(format, 2) + le(channels, 2) + le(8000, 4) +
                           le(8000u * channels * bits / 8, 4) + le(channels * bits / 8u, 2) + le(bits, 2);
    // An odd-sized chunk before the data exercises the padding.
    const QByteArray body = "WAVEfmt " + le(16, 4) + fmt + "LIST" + le(3, 4) + "abc" + '\0' + "data" +
                            le(static_cast<quint32>(samples.size()), 4) + samples;
    return "RIFF" + le(static_cast<quint32>(body.size()), 4) + body;
}

TEST(CuePlayer, DecodeWav)
{
    const QByteArray stereo("\x01\x00\xff\xff\x00\x80\xff\x7f", 8);
    const auto clip = CuePlayer::decodeWav(wav(1, 2, 16, stereo));
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->sampleRate, 8000);
    EXPECT_EQ(clip->channels, 2);
    EXPECT_EQ(clip->samples, (std::vector<qint16>{1, -1, -32768, 32767}));

    const QByteArray good = wav(1, 1, 16, stereo);
    for (const QByteArray& bad :
         {wav(3, 1, 16, stereo), wav(1, 1, 8, stereo), wav(1, 2, 16, stereo.left(6)),
          good.left(good.size() - 1), good.left(40), QByteArray("RIFF"), QByteArray()})
        EXPECT_FALSE(CuePlayer::decodeWav(bad)) << bad.toHex().toStdString();
}

struct RecordingOutput final : SoundOutput {
    explicit RecordingOutput(std::vector<std::pair<const PcmClip*, double>>& into)
        : calls(into)
    {
    }
    void play(std::shared_ptr<const PcmClip> clip, double volume) override
    {
        calls.emplace_back(clip.get(), volume);
    }
    std::vector<std::pair<const PcmClip*, double>>& calls;
};

TEST(CuePlayer, PlaysTheNamedCueAtTheLevelsVolume)
{
    std::vector<std::pair<const PcmClip*, double>> calls;
    CuePlayer player(std::make_unique<RecordingOutput>(calls));
    player.playCue(QStringLiteral("Glass"), QStringLiteral("med"));
    player.playCue(QStringLiteral("Ping"), QStringLiteral("low"));
    player.playCue(QStringLiteral("Glass"), QStringLiteral("high"));
    player.playCue(QStringLiteral("Pop"), QStringLiteral("low"));
    player.playCue(QString(), QStringLiteral("low"));

    ASSERT_EQ(calls.size(), 3u) << "unknown and empty cue names play nothing";
    EXPECT_EQ(calls[0].first->samples, CuePlayer::loadCue(QStringLiteral("Glass"))->samples);
    EXPECT_EQ(calls[1].first->samples, CuePlayer::loadCue(QStringLiteral("Ping"))->samples);
    EXPECT_EQ(calls[2].first, calls[0].first); // decoded once
    EXPECT_EQ((std::array{calls[0].second, calls[1].second, calls[2].second}), (std::array{0.22, 0.12, 1.0}));
}

TEST(CuePlayer, PlayingWithoutASoundDeviceIsQuickAndQuiet)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    qint64 slowestNs = 0;
    QElapsedTimer lifetime;
    {
        CuePlayer player;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer call;
            call.start();
            player.playCue(i % 2 ? QStringLiteral("Ping") : QStringLiteral("Glass"), QStringLiteral("low"));
            slowestNs = std::max(slowestNs, call.nsecsElapsed());
            if (i % 5 == 0)
                test::processEventsFor(50ms); // let the worker try the sound server in between
        }
        test::processEventsFor(200ms);
        lifetime.start();
    }
    EXPECT_LT(lifetime.elapsed(), 600);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LT(slowestNs, 20'000'000) << "slowest playCue took " << slowestNs / 1000 << " µs";
}

} // namespace
} // namespace quillary
