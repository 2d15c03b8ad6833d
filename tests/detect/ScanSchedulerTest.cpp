#include "detect/ScanScheduler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

struct Recorder {
    QElapsedTimer clock;
    QList<qint64> scanTimes;
    bool paused = false;
    std::function<void(bool)> afterScan; // reports back to the scheduler like a real scan

    Recorder() { clock.start(); }
};

ScanScheduler makeScheduler(Recorder& recorder, std::chrono::milliseconds window = 300ms)
{
    return ScanScheduler([&recorder](const QUrl&) { recorder.scanTimes.append(recorder.clock.elapsed()); },
                         [&recorder] { return recorder.paused; }, nullptr, 60ms, 50ms, window);
}

TEST(ScanSchedulerTest, EveryEventIsFollowedByAScanNoSoonerThanTheDelay)
{
    Recorder recorder;
    ScanScheduler scheduler = makeScheduler(recorder);
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/shots"));

    scheduler.folderChanged(folder);
    test::processEventsFor(30ms);
    const qint64 secondEventAt = recorder.clock.elapsed();
    scheduler.folderChanged(folder);
    test::processEventsFor(200ms);

    ASSERT_EQ(recorder.scanTimes.size(), 2);
    EXPECT_GE(recorder.scanTimes[0], 60);
    EXPECT_GE(recorder.scanTimes[1], secondEventAt + 60) << "the later event gets a scan of its own";
}

TEST(ScanSchedulerTest, ABurstOfEventsSharesItsScans)
{
    Recorder recorder;
    ScanScheduler scheduler = makeScheduler(recorder);
    for (int i = 0; i < 50; ++i) {
        scheduler.folderChanged(QUrl::fromLocalFile(QStringLiteral("/shots")));
        test::processEventsFor(2ms);
    }
    test::processEventsFor(250ms);
    EXPECT_GE(recorder.scanTimes.size(), 1);
    EXPECT_LE(recorder.scanTimes.size(), 3);
}

TEST(ScanSchedulerTest, UnfinishedScreenshotsAreLookedAtAgainForAWhileUnlessPaused)
{
    Recorder recorder;
    ScanScheduler scheduler = makeScheduler(recorder, 300ms);
    scheduler.folderChanged(QUrl::fromLocalFile(QStringLiteral("/shots")));
    test::processEventsFor(80ms);
    ASSERT_EQ(recorder.scanTimes.size(), 1);

    // Each follow-up scan reports the file as still unfinished.
    for (int round = 0; round < 20; ++round) {
        const qsizetype before = recorder.scanTimes.size();
        scheduler.scanFinished(true);
        test::waitUntil([&] { return recorder.scanTimes.size() > before; }, 120ms);
    }
    const qsizetype followUps = recorder.scanTimes.size() - 1;
    EXPECT_GE(followUps, 4);
    EXPECT_LE(followUps, 8) << "the window closes after 300 ms";

    scheduler.folderChanged(QUrl::fromLocalFile(QStringLiteral("/shots"))); // reopens the window
    test::processEventsFor(80ms);
    recorder.paused = true;
    const qsizetype before = recorder.scanTimes.size();
    scheduler.scanFinished(true);
    test::processEventsFor(150ms);
    EXPECT_EQ(recorder.scanTimes.size(), before) << "no follow-up scans while paused";

    recorder.paused = false;
    scheduler.scanFinished(false);
    test::processEventsFor(150ms);
    EXPECT_EQ(recorder.scanTimes.size(), before) << "a finished scan stops the follow-ups";
}

} // namespace
