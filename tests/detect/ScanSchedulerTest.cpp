#include "detect/ScanScheduler.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

// Time that moves only when the test says so, a millisecond at a time; timers fire as it passes them.
struct ManualClock final : SchedulerClock {
    struct ManualTimer final : Timer {
        ManualTimer(ManualClock& owner, std::function<void()> callback)
            : clock(owner)
            , fire(std::move(callback))
        {
        }
        void start(std::chrono::milliseconds delay) override { due = clock.now + delay.count(); }
        void stop() override { due.reset(); }
        bool isActive() const override { return due.has_value(); }
        ManualClock& clock;
        std::function<void()> fire;
        std::optional<qint64> due;
    };

    qint64 nowMs() const override { return now; }
    std::unique_ptr<Timer> createTimer(std::function<void()> onTimeout) override
    {
        return std::unique_ptr<Timer>(timers.emplace_back(new ManualTimer(*this, std::move(onTimeout))));
    }
    void advance(std::chrono::milliseconds duration)
    {
        for (const qint64 until = now + duration.count(); now <= until; ++now) {
            for (ManualTimer* timer : std::vector(timers)) {
                if (timer->due <= now && std::exchange(timer->due, std::nullopt))
                    timer->fire();
            }
        }
        --now;
    }

    qint64 now = 0;
    std::vector<ManualTimer*> timers;
};

const QUrl shots = QUrl::fromLocalFile(QStringLiteral("/shots"));
const QUrl other = QUrl::fromLocalFile(QStringLiteral("/other"));

// A 60 ms delay and follow-ups every 50 ms for 300 ms; each scan is recorded and reports `unfinished`.
struct Harness {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::vector<std::pair<qint64, QUrl>> scans; // when, which folder
    bool paused = false;
    bool unfinished = false;
    ScanScheduler scheduler = ScanScheduler([this](const QUrl& folder) { scan(folder); },
                                            [this] { return paused; }, nullptr, 60ms, 50ms, 300ms, clock);

    Harness() { scheduler.watch(shots); }
    void scan(const QUrl& folder)
    {
        scans.emplace_back(clock->now, folder);
        scheduler.scanFinished(unfinished);
    }
};

// Each event gets a scan no sooner than the delay after it; a burst of events shares a few.
TEST(ScanSchedulerTest, EveryEventIsFollowedByAScanNoSoonerThanTheDelay)
{
    Harness h;
    h.scheduler.folderChanged(shots);
    h.clock->advance(30ms);
    h.scheduler.folderChanged(shots);
    h.clock->advance(200ms);
    EXPECT_EQ(h.scans, (std::vector<std::pair<qint64, QUrl>>{{60, shots}, {30 + 60, shots}}));

    for (int i = 0; i < 50; ++i) {
        h.scheduler.folderChanged(shots);
        h.clock->advance(2ms);
    }
    h.clock->advance(1000ms);
    EXPECT_TRUE(h.scans.size() >= 3 && h.scans.size() <= 5) << h.scans.size();
    EXPECT_GE(h.scans.back().first, 230 + 98 + 60) << "the last event is covered too";
}

TEST(ScanSchedulerTest, UnfinishedScreenshotsAreLookedAtAgainForAWhileUnlessPaused)
{
    Harness h;
    h.unfinished = true;
    h.scheduler.folderChanged(shots);
    h.clock->advance(2000ms);
    EXPECT_EQ(h.scans.size(), 1 + 300u / 50u) << "every 50 ms until the 300 ms window closes";

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
    EXPECT_EQ(h.scans[1].second, other);

    h.scheduler.watch(QUrl());
    h.scheduler.folderChanged(QUrl());
    h.scheduler.folderChanged(other);
    h.clock->advance(1000ms);
    EXPECT_EQ(h.scans.size(), 2u) << "nothing watched, nothing scanned";
}

} // namespace
