#include "platform/linux/PulseSoundOutput.h"

#include <QCoreApplication>

#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace quillary {

using namespace std::chrono_literals;

struct PulsePlaybackState {
    struct Request {
        std::shared_ptr<const PcmClip> clip;
        double volume = 1.0;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Request> pending;
    bool quit = false;
    bool finished = false;
    QByteArray applicationName;

    // True when the clip being written should give way to a newer one or to shutdown.
    bool interrupted()
    {
        const std::lock_guard lock(mutex);
        return quit || pending.has_value();
    }
};

namespace {

constexpr auto idleBeforeClose = 2s;
constexpr int chunkMilliseconds = 20;
constexpr int bufferMilliseconds = 60;

// One playback stream; reopened when a clip has another format.
class Stream final {
public:
    explicit Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { close(false); }

    bool isOpen() const { return m_stream != nullptr; }

    bool openFor(const PcmClip& clip, const QByteArray& applicationName)
    {
        if (m_stream && clip.sampleRate == m_rate && clip.channels == m_channels)
            return true;
        close(false);
        const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(clip.sampleRate),
                                  static_cast<uint8_t>(clip.channels)};
        // A short target buffer starts playback promptly and keeps a flush from lagging.
        const auto bytes =
            static_cast<uint32_t>(clip.sampleRate * clip.channels * 2 * bufferMilliseconds / 1000);
        const pa_buffer_attr attributes{static_cast<uint32_t>(-1), bytes, static_cast<uint32_t>(-1),
                                        static_cast<uint32_t>(-1), static_cast<uint32_t>(-1)};
        int error = 0;
        m_stream = pa_simple_new(nullptr, applicationName.constData(), PA_STREAM_PLAYBACK, nullptr, "Cue",
                                 &spec, nullptr, &attributes, &error);
        m_rate = clip.sampleRate;
        m_channels = clip.channels;
        return m_stream != nullptr;
    }

    bool write(const std::vector<qint16>& samples)
    {
        int error = 0;
        return pa_simple_write(m_stream, samples.data(), samples.size() * sizeof(qint16), &error) == 0;
    }

    void flush()
    {
        int error = 0;
        pa_simple_flush(m_stream, &error);
    }

    void drain()
    {
        int error = 0;
        pa_simple_drain(m_stream, &error);
    }

    void close(bool letFinish)
    {
        if (!m_stream)
            return;
        if (letFinish)
            drain();
        pa_simple_free(m_stream);
        m_stream = nullptr;
    }

private:
    pa_simple* m_stream = nullptr;
    int m_rate = 0;
    int m_channels = 0;
};

void playOn(Stream& stream, PulsePlaybackState& shared, const PulsePlaybackState::Request& request)
{
    const PcmClip& clip = *request.clip;
    if (clip.samples.empty() || clip.sampleRate <= 0 || clip.channels <= 0)
        return;
    if (stream.isOpen())
        stream.flush(); // drops what is left of the previous clip
    if (!stream.openFor(clip, shared.applicationName))
        return;

    const double volume = std::clamp(request.volume, 0.0, 1.0);
    const size_t chunk = static_cast<size_t>(clip.sampleRate * clip.channels * chunkMilliseconds / 1000);
    std::vector<qint16> scaled;
    for (size_t offset = 0; offset < clip.samples.size(); offset += chunk) {
        if (shared.interrupted())
            return;
        const auto begin = clip.samples.begin() + static_cast<std::ptrdiff_t>(offset);
        const auto end =
            clip.samples.begin() + static_cast<std::ptrdiff_t>(std::min(offset + chunk, clip.samples.size()));
        scaled.resize(static_cast<size_t>(end - begin));
        std::transform(begin, end, scaled.begin(),
                       [volume](qint16 sample) { return static_cast<qint16>(std::lround(sample * volume)); });
        if (!stream.write(scaled)) {
            stream.close(false);
            return;
        }
    }
    stream.drain();
}

void run(const std::shared_ptr<PulsePlaybackState>& shared)
{
    Stream stream;
    std::unique_lock lock(shared->mutex);
    for (;;) {
        const auto ready = [&] { return shared->quit || shared->pending.has_value(); };
        if (!stream.isOpen()) {
            shared->wake.wait(lock, ready);
        } else if (!shared->wake.wait_for(lock, idleBeforeClose, ready)) {
            // An idle open stream would keep the sound card awake.
            lock.unlock();
            stream.close(true);
            lock.lock();
            continue;
        }
        if (shared->quit)
            break;
        const PulsePlaybackState::Request request = std::move(*shared->pending);
        shared->pending.reset();
        lock.unlock();
        playOn(stream, *shared, request);
        lock.lock();
    }
    lock.unlock();
    stream.close(false);
    lock.lock();
    shared->finished = true;
    shared->wake.notify_all();
}

} // namespace

std::unique_ptr<SoundOutput> SoundOutput::createDefault()
{
    return std::make_unique<PulseSoundOutput>(QCoreApplication::applicationName());
}

PulseSoundOutput::PulseSoundOutput(QString applicationName)
    : m_shared(std::make_shared<PulsePlaybackState>())
{
    m_shared->applicationName =
        applicationName.isEmpty() ? QByteArrayLiteral("Quillary") : applicationName.toUtf8();
}

PulseSoundOutput::~PulseSoundOutput()
{
    if (!m_worker.joinable())
        return;
    bool finished = false;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->quit = true;
        m_shared->wake.notify_all();
        finished = m_shared->wake.wait_for(lock, 500ms, [&] { return m_shared->finished; });
    }
    // The worker holds its own share of the state, so one stuck in a hung server can be left behind.
    if (finished)
        m_worker.join();
    else
        m_worker.detach();
}

void PulseSoundOutput::play(std::shared_ptr<const PcmClip> clip, double volume)
{
    if (!clip)
        return;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->pending = PulsePlaybackState::Request{std::move(clip), volume};
        m_shared->wake.notify_all();
    }
    if (!m_worker.joinable())
        m_worker = std::thread([shared = m_shared] { run(shared); });
}

} // namespace quillary
