#include "detect/ScanScheduler.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace quillary {
namespace {

class QtTimer final : public SchedulerClock::Timer {
public:
    explicit QtTimer(std::function<void()> onTimeout)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer); // coarse timers may fire early; delays are minimums
        QObject::connect(&m_timer, &QTimer::timeout, std::move(onTimeout));
    }
    void start(std::chrono::milliseconds delay) override { m_timer.start(delay); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class QtClock final : public SchedulerClock {
public:
    QtClock() { m_elapsed.start(); }
    qint64 nowMs() const override { return m_elapsed.elapsed(); }
    std::unique_ptr<Timer> createTimer(std::function<void()> onTimeout) override
    {
        return std::make_unique<QtTimer>(std::move(onTimeout));
    }

private:
    QElapsedTimer m_elapsed;
};

} // namespace

std::shared_ptr<SchedulerClock> SchedulerClock::system()
{
    return std::make_shared<QtClock>();
}

ScanScheduler::ScanScheduler(std::function<void(const QUrl&)> runScan, std::function<bool()> isPaused,
                             QObject* parent, Milliseconds delay, Milliseconds followUpInterval,
                             Milliseconds followUpWindow, std::shared_ptr<SchedulerClock> clock)
    : QObject(parent)
    , m_runScan(std::move(runScan))
    , m_isPaused(std::move(isPaused))
    , m_delay(delay)
    , m_followUpInterval(followUpInterval)
    , m_followUpWindow(followUpWindow)
    , m_clock(std::move(clock))
    , m_scanTimer(m_clock->createTimer([this] { runDueScan(); }))
    , m_followUpTimer(m_clock->createTimer([this] { runFollowUpScan(); }))
{
}

ScanScheduler::~ScanScheduler() = default;

void ScanScheduler::watch(const QUrl& folder)
{
    if (folder == m_folder)
        return;
    m_folder = folder;
    m_scanTimer->stop();
    m_followUpTimer->stop();
    m_lastEventAt = m_scanArmedAt = m_followUpUntil = -1;
}

void ScanScheduler::folderChanged(const QUrl& folder)
{
    if (m_folder.isEmpty() || folder != m_folder)
        return;
    m_lastEventAt = m_clock->nowMs();
    m_followUpUntil = -1; // a fresh event opens a fresh follow-up window
    if (!m_scanTimer->isActive()) {
        m_scanArmedAt = m_lastEventAt;
        m_scanTimer->start(m_delay);
    }
}

void ScanScheduler::runDueScan()
{
    // Events that arrived after this scan was armed are younger than the delay: they get their own
    // scan once the delay has passed for the last of them.
    const bool hadLaterEvents = m_lastEventAt > m_scanArmedAt;
    m_runScan(m_folder);
    if (hadLaterEvents) {
        const qint64 remaining = m_lastEventAt + m_delay.count() - m_clock->nowMs();
        m_scanArmedAt = m_lastEventAt;
        m_scanTimer->start(Milliseconds(std::max<qint64>(0, remaining)));
    }
}

void ScanScheduler::runFollowUpScan()
{
    if (!m_isPaused())
        m_runScan(m_folder);
}

void ScanScheduler::scanFinished(bool leftUnfinishedScreenshots)
{
    if (!leftUnfinishedScreenshots || m_folder.isEmpty()) {
        m_followUpUntil = -1;
        return;
    }
    const qint64 now = m_clock->nowMs();
    if (m_followUpUntil < 0)
        m_followUpUntil = now + m_followUpWindow.count();
    if (now < m_followUpUntil && !m_followUpTimer->isActive())
        m_followUpTimer->start(m_followUpInterval);
}

} // namespace quillary
