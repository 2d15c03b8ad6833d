#pragma once

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace quillary {

// Time as a ScanScheduler sees it: a monotonic clock and one-shot timers on it. The system clock
// runs on QElapsedTimer and QTimer (main thread); tests drive a clock of their own.
class SchedulerClock {
public:
    class Timer {
    public:
        virtual ~Timer() = default;
        // (Re)starts the timer: its callback runs once, `delay` from now, unless stopped first.
        virtual void start(std::chrono::milliseconds delay) = 0;
        virtual void stop() = 0;
        virtual bool isActive() const = 0;
    };

    virtual ~SchedulerClock() = default;
    // Milliseconds since some fixed point; never goes back.
    virtual qint64 nowMs() const = 0;
    virtual std::unique_ptr<Timer> createTimer(std::function<void()> onTimeout) = 0;

    static std::shared_ptr<SchedulerClock> system();
};

// Decides when the watched folder is scanned (main thread only).
//
// Every event of the watched folder is followed by a scan that starts at least `delay` after it;
// events that come while a scan is already due share it, so a burst of events costs a few scans
// instead of one each. While a scan leaves unfinished screenshots behind, the folder is scanned
// again every `followUpInterval` for up to `followUpWindow`, because some tools finish a file
// without any further folder event.
class ScanScheduler final : public QObject {
    Q_OBJECT

public:
    using Milliseconds = std::chrono::milliseconds;

    ScanScheduler(std::function<void(const QUrl&)> runScan, std::function<bool()> isPaused,
                  QObject* parent = nullptr, Milliseconds delay = Milliseconds(400),
                  Milliseconds followUpInterval = Milliseconds(500),
                  Milliseconds followUpWindow = Milliseconds(10'000),
                  std::shared_ptr<SchedulerClock> clock = SchedulerClock::system());
    ~ScanScheduler() override;

    // The folder that scans are for from now on; an empty URL stops scanning. A change of folder
    // drops whatever scan was due for the previous one.
    void watch(const QUrl& folder);
    const QUrl& watchedFolder() const { return m_folder; }

    // An event of `folder`; one of a folder other than the watched one (a late event of an earlier
    // watch) is ignored.
    void folderChanged(const QUrl& folder);
    // Called by the scan when it is done.
    void scanFinished(bool leftUnfinishedScreenshots);

private:
    void runDueScan();
    void runFollowUpScan();

    std::function<void(const QUrl&)> m_runScan;
    std::function<bool()> m_isPaused;
    const Milliseconds m_delay;
    const Milliseconds m_followUpInterval;
    const Milliseconds m_followUpWindow;

    std::shared_ptr<SchedulerClock> m_clock;
    QUrl m_folder;
    qint64 m_lastEventAt = -1;
    qint64 m_scanArmedAt = -1;
    std::unique_ptr<SchedulerClock::Timer> m_scanTimer;
    qint64 m_followUpUntil = -1; // -1: no follow-up window open
    std::unique_ptr<SchedulerClock::Timer> m_followUpTimer;
};

} // namespace quillary
