#include "detect/ScanScheduler.h"

namespace quillary {

ScanScheduler::ScanScheduler(std::function<void(const QUrl&)> runScan, std::function<bool()> isPaused,
                             QObject* parent, Milliseconds delay, Milliseconds followUpInterval,
                             Milliseconds followUpWindow)
    : QObject(parent)
    , m_runScan(std::move(runScan))
    , m_isPaused(std::move(isPaused))
    , m_delay(delay)
    , m_followUpWindow(followUpWindow)
{
    m_clock.start();
    m_scanTimer.setSingleShot(true);
    m_scanTimer.setTimerType(Qt::PreciseTimer); // coarse timers may fire early; the delay is a minimum
    connect(&m_scanTimer, &QTimer::timeout, this, &ScanScheduler::runDueScan);
    m_followUpTimer.setSingleShot(true);
    m_followUpTimer.setInterval(followUpInterval);
    connect(&m_followUpTimer, &QTimer::timeout, this, [this] {
        if (!m_isPaused())
            m_runScan(m_folder);
    });
}

void ScanScheduler::folderChanged(const QUrl& folder)
{
    m_folder = folder;
    m_lastEventAt = m_clock.elapsed();
    m_followUpUntil = -1; // a fresh event opens a fresh follow-up window
    if (!m_scanTimer.isActive()) {
        m_scanArmedAt = m_lastEventAt;
        m_scanTimer.start(m_delay);
    }
}

void ScanScheduler::runDueScan()
{
    // Events that arrived after this scan was armed are younger than the delay: they get their own
    // scan once the delay has passed for the last of them.
    const bool hadLaterEvents = m_lastEventAt > m_scanArmedAt;
    m_runScan(m_folder);
    if (hadLaterEvents) {
        const qint64 remaining = m_lastEventAt + m_delay.count() - m_clock.elapsed();
        m_scanArmedAt = m_lastEventAt;
        m_scanTimer.start(std::max<qint64>(0, remaining));
    }
}

void ScanScheduler::scanFinished(bool leftUnfinishedScreenshots)
{
    if (!leftUnfinishedScreenshots) {
        m_followUpUntil = -1;
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (m_followUpUntil < 0)
        m_followUpUntil = now + m_followUpWindow.count();
    if (now < m_followUpUntil && !m_followUpTimer.isActive())
        m_followUpTimer.start();
}

} // namespace quillary
