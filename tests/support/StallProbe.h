#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <ctime>

namespace quillary::test {

// The longest time the event loop of its thread goes without turning (a timer due every `interval`
// notes how late each tick comes), and the thread's CPU time in it: much less means a busy machine.
class StallProbe {
public:
    explicit StallProbe(std::chrono::milliseconds interval = std::chrono::milliseconds(5))
        : m_intervalNs(std::chrono::nanoseconds(interval).count())
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(interval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_longestNs = m_longestCpuNs = 0;
        m_clock.start();
        m_lastTickNs = 0;
        m_lastCpuNs = threadCpuNs();
        m_timer.start();
    }

    // Counts the time since the last tick too: a stall may be going on right now.
    void stop()
    {
        tick();
        m_timer.stop();
    }

    double longestStallMs() const { return double(m_longestNs) / 1e6; }
    double cpuInLongestStallMs() const { return double(m_longestCpuNs) / 1e6; }

private:
    static qint64 threadCpuNs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        if (now - m_lastTickNs - m_intervalNs > m_longestNs) {
            m_longestNs = now - m_lastTickNs - m_intervalNs;
            m_longestCpuNs = cpu - m_lastCpuNs;
        }
        m_lastTickNs = now;
        m_lastCpuNs = cpu;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_intervalNs;
    qint64 m_lastTickNs = 0;
    qint64 m_lastCpuNs = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuNs = 0;
};

} // namespace quillary::test
