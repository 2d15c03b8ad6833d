#include "handle/CuePlayer.h"

#include <QFile>
#include <QtEndian>

// The resources live in a static library: without a reference the linker drops them.
static bool initCueResources()
{
    Q_INIT_RESOURCE(sounds);
    return true;
}

namespace quillary {
namespace {

QString resourcePath(const QString& soundName)
{
    if (soundName == QStringLiteral("Glass"))
        return QStringLiteral(":/sounds/glass.wav");
    if (soundName == QStringLiteral("Ping"))
        return QStringLiteral(":/sounds/ping.wav");
    return {};
}

quint16 u16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

} // namespace

CuePlayer::CuePlayer()
    : CuePlayer(SoundOutput::createDefault())
{
}

CuePlayer::CuePlayer(std::unique_ptr<SoundOutput> output)
    : m_output(std::move(output))
{
}

CuePlayer::~CuePlayer() = default;

double CuePlayer::volumeForLevel(const QString& level)
{
    if (level == QStringLiteral("low"))
        return 0.12;
    if (level == QStringLiteral("med"))
        return 0.22;
    return 1.0;
}

void CuePlayer::playCue(const QString& soundName, const QString& level)
{
    if (!m_output || resourcePath(soundName).isEmpty())
        return;
    auto clip = m_clips.value(soundName);
    if (!clip) {
        auto loaded = loadCue(soundName);
        if (!loaded)
            return;
        clip = std::make_shared<const PcmClip>(std::move(*loaded));
        m_clips.insert(soundName, clip);
    }
    m_output->play(clip, volumeForLevel(level));
}

std::optional<PcmClip> CuePlayer::loadCue(const QString& soundName)
{
    const QString path = resourcePath(soundName);
    if (path.isEmpty())
        return std::nullopt;
    [[maybe_unused]] static const bool registered = initCueResources();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return decodeWav(file.readAll());
}

std::optional<PcmClip> CuePlayer::decodeWav(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    if (size < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;

    std::optional<PcmClip> clip;
    bool haveFormat = false;
    // Chunks follow one another, each padded to an even length; unknown ones are skipped.
    for (qsizetype at = 12; at + 8 <= size;) {
        const QByteArray id = bytes.mid(at, 4);
        const qsizetype length = u32(data + at + 4);
        const qsizetype body = at + 8;
        if (length > size - body)
            return std::nullopt;
        if (id == "fmt ") {
            if (length < 16 || u16(data + body) != 1 || u16(data + body + 14) != 16)
                return std::nullopt; // only plain 16-bit PCM
            clip.emplace();
            clip->channels = u16(data + body + 2);
            clip->sampleRate = static_cast<int>(u32(data + body + 4));
            if (clip->channels < 1 || clip->sampleRate < 1)
                return std::nullopt;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || length % (2 * clip->channels) != 0)
                return std::nullopt;
            clip->samples.resize(static_cast<size_t>(length / 2));
            for (size_t i = 0; i < clip->samples.size(); ++i)
                clip->samples[i] = qFromLittleEndian<qint16>(data + body + 2 * static_cast<qsizetype>(i));
            return clip;
        }
        at = body + length + (length & 1);
    }
    return std::nullopt;
}

} // namespace quillary
