#include "detect/ScanScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

// Time that moves only when the test says so; timers fire in order as it passes them.
class ManualClock final : public SchedulerClock {
public:
    qint64 nowMs() const override { return m_now; }
    std::unique_ptr<Timer> createTimer(std::function<void()> onTimeout) override
    {
        auto timer = std::make_unique<ManualTimer>(*this, std::move(onTimeout));
        m_timers.push_back(timer.get());
        return timer;
    }

    void advance(std::chrono::milliseconds duration)
    {
        const qint64 until = m_now + duration.count();
        for (;;) {
            ManualTimer* next = nullptr;
            for (ManualTimer* timer : m_timers) {
                if (timer->due && *timer->due <= until && (!next || *timer->due < *next->due))
                    next = timer;
            }
            if (!next)
                break;
            m_now = *next->due;
            next->due.reset();
            next->onTimeout();
        }
        m_now = until;
    }

private:
    struct ManualTimer final : Timer {
        ManualTimer(ManualClock& owner, std::function<void()> callback)
            : clock(owner)
            , onTimeout(std::move(callback))
        {
        }
        ~ManualTimer() override { std::erase(clock.m_timers, this); }
        void start(std::chrono::milliseconds delay) override { due = clock.m_now + delay.count(); }
        void stop() override { due.reset(); }
        bool isActive() const override { return due.has_value(); }

        ManualClock& clock;
        std::function<void()> onTimeout;
        std::optional<qint64> due;
    };

    qint64 m_now = 0;
    std::vector<ManualTimer*> m_timers;
};

const QUrl shots = QUrl::fromLocalFile(QStringLiteral("/shots"));
const QUrl other = QUrl::fromLocalFile(QStringLiteral("/other"));

// A scheduler with a 60 ms delay and follow-ups every 50 ms for 300 ms, whose scans are recorded
// and report `unfinished` back like a real scan.
struct Harness {
    struct Scan {
        qint64 at;
        QUrl folder;
    };

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::vector<Scan> scans;
    bool paused = false;
    bool unfinished = false;
    ScanScheduler scheduler{[this](const QUrl& folder) {
                                scans.push_back({clock->nowMs(), folder});
                                scheduler.scanFinished(unfinished);
                            },
                            [this] { return paused; },
                            nullptr,
                            60ms,
                            50ms,
                            300ms,
                            clock};

    Harness() { scheduler.watch(shots); }
};

TEST(ScanSchedulerTest, EveryEventIsFollowedByAScanNoSoonerThanTheDelay)
{
    Harness h;
    h.scheduler.folderChanged(shots);
    h.clock->advance(30ms);
    h.scheduler.folderChanged(shots);
    h.clock->advance(200ms);

    ASSERT_EQ(h.scans.size(), 2u);
    EXPECT_EQ(h.scans[0].at, 60) << "as soon as the delay has passed";
    EXPECT_EQ(h.scans[1].at, 30 + 60) << "the later event gets a scan of its own";
    EXPECT_EQ(h.scans[1].folder, shots);
}

TEST(ScanSchedulerTest, ABurstOfEventsSharesItsScans)
{
    Harness h;
    for (int i = 0; i < 50; ++i) {
        h.scheduler.folderChanged(shots);
        h.clock->advance(2ms);
    }
    h.clock->advance(1000ms);
    ASSERT_GE(h.scans.size(), 1u);
    EXPECT_LE(h.scans.size(), 3u);
    EXPECT_GE(h.scans.back().at, 98 + 60) << "the last event is covered too";
}

TEST(ScanSchedulerTest, UnfinishedScreenshotsAreLookedAtAgainForAWhileUnlessPaused)
{
    Harness h;
    h.unfinished = true;
    h.scheduler.folderChanged(shots);
    h.clock->advance(2000ms);
    ASSERT_GE(h.scans.size(), 1u);
    EXPECT_EQ(h.scans.size() - 1, 300u / 50u) << "every 50 ms until the 300 ms window closes";

    h.scheduler.folderChanged(shots); // reopens the window
    h.clock->advance(60ms);
    h.paused = true;
    const size_t before = h.scans.size();
    h.clock->advance(200ms);
    EXPECT_EQ(h.scans.size(), before) << "no follow-up scans while paused";

    h.paused = false;
    h.scheduler.scanFinished(false);
    h.clock->advance(200ms);
    EXPECT_EQ(h.scans.size(), before) << "a finished scan stops the follow-ups";
}

// After the watch moves to another folder, nothing of the old one is scanned: not the scan that was
// due, not its follow-ups, and not a scan asked for by an event that arrives late.
TEST(ScanSchedulerTest, AfterTheWatchMovesOnLateEventsOfTheOldFolderScanNothing)
{
    Harness h;
    h.unfinished = true;
    h.scheduler.folderChanged(shots);
    h.clock->advance(70ms); // scanned once, follow-ups running
    h.scheduler.folderChanged(shots);
    h.clock->advance(10ms);

    h.scheduler.watch(other);
    h.scheduler.folderChanged(shots);
    h.clock->advance(1000ms);
    ASSERT_EQ(h.scans.size(), 1u);

    h.unfinished = false;
    h.scheduler.folderChanged(other);
    h.scheduler.folderChanged(shots);
    h.clock->advance(1000ms);
    ASSERT_EQ(h.scans.size(), 2u);
    EXPECT_EQ(h.scans[1].folder, other);

    h.scheduler.watch(QUrl());
    h.scheduler.folderChanged(QUrl());
    h.scheduler.folderChanged(other);
    h.clock->advance(1000ms);
    EXPECT_EQ(h.scans.size(), 2u) << "nothing watched, nothing scanned";
}

} // namespace
