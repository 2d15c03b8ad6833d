// The watch and its scans, end to end: a real folder, the real monitor, the real clock.
#include "detect/WatchController.h"
#include "core/NotificationCenter.h"
#include "core/OwnOutputs.h"
#include "detect/ScanScheduler.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>

#include <optional>
#include <vector>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

class WatchControllerTest : public ::testing::Test, public test::SessionHome {
protected:
    void SetUp() override
    {
        registerDefaultSettings(store);
        QObject::connect(&watch, &WatchController::screenshotsFound, [this](const QStringList& paths) {
            for (const QString& path : paths)
                found.append(QFileInfo(path).fileName());
        });
        watch.startWatching();
        ASSERT_TRUE(QFileInfo(screenshotFolder).isDir()) << "a missing screenshot folder is created";
    }

    QString shot(const QString& name) const { return screenshotFolder + u'/' + name; }
    void take(const QString& name) { test::writeFile(shot(name), test::tinyPng()); }
    bool waitForFound(qsizetype count)
    {
        return test::waitUntil([&] { return found.size() >= count; }) && found.size() == count;
    }

    QString screenshotFolder = home.filePath("Pictures/Screenshots");
    OwnOutputs ownOutputs;
    WatchController watch{store, ownOutputs, [this] { return screenshotFolder; }};
    QStringList found; // file names, in the order they were handed on
};

// Writing without closing makes no folder event: only the follow-up scans see the file finished.
TEST_F(WatchControllerTest, UnfinishedFilesWaitUnmarkedUntilDone)
{
    const QByteArray png = test::tinyPng();
    QFile file(shot("Screenshot slow.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(png.left(png.size() / 2)) && file.flush());
    test::processEventsFor(900ms);
    EXPECT_TRUE(found.isEmpty()) << "half a PNG is never handed on";
    ASSERT_TRUE(file.write(png.mid(png.size() / 2)) && file.flush());
    EXPECT_TRUE(waitForFound(1));
}

TEST_F(WatchControllerTest, PausingDropsEventsAndResumingCatchesUpOnce)
{
    store.setBool(prefs::isPaused, true);
    take("Screenshot paused.png");
    test::processEventsFor(800ms);
    EXPECT_TRUE(found.isEmpty());

    store.setBool(prefs::isPaused, false);
    QThread::msleep(20);
    take("Screenshot resumed.png");
    ASSERT_TRUE(waitForFound(2));
    watch.startWatching(); // the rescan after a restart adds nothing
    test::processEventsFor(700ms);
    EXPECT_EQ(found, (QStringList{"Screenshot paused.png", "Screenshot resumed.png"}));
}

TEST_F(WatchControllerTest, ACustomFolderIsWatchedUntilItDisappearsAndABlockedOneOnceItIsThere)
{
    const QString custom = home.filePath("My Shots");
    ASSERT_TRUE(QDir().mkpath(custom));
    watch.setCustomWatchFolder(QUrl::fromLocalFile(custom));
    test::writeFile(custom + "/Screenshot custom.png", test::tinyPng());
    ASSERT_TRUE(waitForFound(1));

    ASSERT_TRUE(QDir(custom).removeRecursively());
    testing::internal::CaptureStdout();
    watch.scanWatchedFolder(QUrl::fromLocalFile(custom));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("❌ Monitor Error: ", 0), 0u);
    watch.startWatching();
    EXPECT_EQ(watch.currentWatchURL().toLocalFile(), screenshotFolder);
    EXPECT_FALSE(watch.isUsingCustomWatchFolder());
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8()) << "kept for the next start";

    // A plain file where the folder should be: it cannot be created, listed or watched.
    screenshotFolder = home.filePath("blocked");
    test::writeFile(screenshotFolder, "not a folder");
    testing::internal::CaptureStdout();
    watch.startWatching();
    EXPECT_NE(testing::internal::GetCapturedStdout().find(" — access: DENIED ❌\n"), std::string::npos);
    EXPECT_EQ(watch.watchStatus(), WatchStatus::noAccess);
    ASSERT_TRUE(QFile::remove(screenshotFolder));
    watch.startWatching();
    EXPECT_EQ(watch.watchStatus(), WatchStatus::active);
}

// A screenshot that lands in the remade folder before the watch is back is still found.
TEST_F(WatchControllerTest, AFolderThatIsDeletedIsWatchedAgainOnceItComesBack)
{
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(QDir(screenshotFolder).removeRecursively());
    EXPECT_TRUE(test::waitUntil([&] { return watch.watchStatus() == WatchStatus::noAccess; }));
    test::processEventsFor(600ms);
    EXPECT_EQ(changed.count(), 1);
    ASSERT_TRUE(QDir().mkpath(screenshotFolder));
    take("Screenshot during.png"); // before the event loop runs again, so before the watch is back
    EXPECT_TRUE(waitForFound(1));
    const std::string output = testing::internal::GetCapturedStdout(),
                      folder = screenshotFolder.toStdString();
    EXPECT_EQ(watch.watchStatus(), WatchStatus::active);
    EXPECT_EQ(changed.count(), 2);
    for (const std::string& line :
         {folder + " is gone; waiting for it to come back\n", folder + " is back; watching again\n"})
        EXPECT_NE(output.find("Quillary: The watched folder " + line), std::string::npos) << output;
    EXPECT_EQ(output.find("❌"), std::string::npos) << output;
}

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

// Neither a due scan, its follow-ups nor a late event of the old folder scans after the watch moved.
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
