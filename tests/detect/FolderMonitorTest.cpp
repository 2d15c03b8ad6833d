#include "detect/FolderMonitor.h"
#include "core/FileNames.h"
#include "core/NotificationCenter.h"
#include "core/OwnOutputs.h"
#include "core/WatchStatus.h"
#include "detect/MissingFolderWatch.h"
#include "detect/PngScreenCaptureFlag.h"
#include "detect/ScanScheduler.h"
#include "detect/ScreenshotScan.h"
#include "detect/WatchController.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace quillary {
namespace {

using namespace test;

class FolderMonitorTest : public testing::Test {
protected:
    static bool onMainThread() { return QThread::currentThread() == qApp->thread(); }
    void SetUp() override { processEventsFor(10ms); } // Qt opens some descriptors lazily: before counting

    static int descriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()); }
    static std::string startQuietly(FolderMonitor& monitor)
    {
        return stdoutOf([&] { monitor.start(); });
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    std::unique_ptr<FolderMonitor> countingMonitor(const QString& name = {})
    {
        auto monitor = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(path(name)));
        monitor->onFolderChanged = [this] { m_calls += onMainThread() ? 1000 : 1; };
        return monitor;
    }
    // Lets earlier events arrive, runs `change` and checks whether it was reported.
    void expectReported(bool reported, const char* what, const std::function<void()>& change)
    {
        processEventsFor(100ms);
        const int before = m_calls.load();
        change();
        EXPECT_EQ(waitUntil([&] { return m_calls.load() > before; }, reported ? 3000ms : 100ms), reported)
            << what;
    }

    QTemporaryDir m_dir;
    std::atomic<int> m_calls{0}; // +1 per call off the main thread, +1000 on it
};

// Each step causes one kind of event, so each kind the watch asks for is checked on its own.
TEST_F(FolderMonitorTest, ReportsChangesOffTheMainThreadFromStartToCancel)
{
    const int before = descriptors();
    writeFile(path("old.png"), "png");
    auto monitor = countingMonitor();
    startQuietly(*monitor);
    const int opened = descriptors();
    EXPECT_EQ(startQuietly(*monitor), "") << "a second start does nothing";
    EXPECT_EQ(descriptors(), opened);
    QFile slow(path("slow.png"));
    expectReported(true, "create", [&] { ASSERT_TRUE(slow.open(QIODevice::WriteOnly)); });
    expectReported(false, "write before close", [&] { ASSERT_TRUE(slow.write("png") == 3 && slow.flush()); });
    expectReported(true, "close after write", [&] { slow.close(); });
    expectReported(true, "rename", [&] { ASSERT_TRUE(QFile::rename(path("old.png"), path("new.png"))); });
    expectReported(true, "delete", [&] { ASSERT_TRUE(QFile::remove(path("new.png"))); });
    EXPECT_LT(m_calls.load(), 1000) << "called on the main thread";

    monitor->cancel();
    EXPECT_TRUE(monitor->fileDescriptor() == -1 && monitor->monitorSource() == nullptr);
    EXPECT_EQ(descriptors(), before);
    expectReported(false, "after cancel", [&] { writeFile(path("ignored.png"), "png"); });
    startQuietly(*monitor);
    expectReported(true, "after a new start", [&] { writeFile(path("seen.png"), "png"); });
}

// Only EACCES is a permission problem (queued, outliving the monitor); ENOTDIR and ENOENT mean "gone".
TEST_F(FolderMonitorTest, AFolderThatCannotBeOpenedIsReportedWithTheReason)
{
    writeFile(path("file.png"), "png");
    ASSERT_TRUE(QDir().mkdir(path("locked")));
    ASSERT_TRUE(QFile::setPermissions(path("locked"), {}));
    const PermissionBitsEnforced enforced;
    const std::pair<const char*, int> cases[] = {
        {"missing", ENOENT}, {"file.png", ENOTDIR}, {"locked", EACCES}};
    for (const auto& [name, error] : cases) {
        if (error == EACCES && !enforced.isEffective())
            continue; // root whose overrides could not be lowered opens anything
        auto monitor = countingMonitor(name);
        monitor->onPermissionDenied = [this] { m_calls += onMainThread() ? 1000 : 1; };
        int gone = 0;
        monitor->onFolderGone = [&] { gone += onMainThread() ? 1 : 1000; };
        const std::string output = startQuietly(*monitor);
        EXPECT_TRUE(monitor->fileDescriptor() == -1 && monitor->monitorSource() == nullptr);
        if (error == EACCES)
            monitor.reset(); // a queued permission report outlives its monitor
        EXPECT_EQ(m_calls.load() + gone, 0) << "called inside start";
        processEventsFor(100ms);
        EXPECT_EQ(gone, error == EACCES ? 0 : 1) << name;
        EXPECT_EQ(output, "❌ Error: Could not open folder for monitoring at " + path(name).toStdString() +
                              ". Reason: " + QString::fromLocal8Bit(std::strerror(error)).toStdString() +
                              "\n");
        EXPECT_EQ(m_calls.exchange(0), error == EACCES ? 1000 : 0) << name;
    }
}

// Cancelled and destroyed while events pour in, as a restart of the watch does: no call comes late.
TEST_F(FolderMonitorTest, StoppingWhileEventsPourInLeavesNothingBehind)
{
    const int before = descriptors();
    std::atomic<int> stopped{-1}, late{0}; // the last monitor stopped
    testing::internal::CaptureStdout();    // once: capturing redirects descriptors while the flooder runs
    {
        const std::jthread flooder([this](std::stop_token stop) {
            for (int round = 0; !stop.stop_requested(); ++round)
                writeFile(path("flood-" + QString::number(round % 8)), "x");
        });
        for (int i = 0; i < 30; ++i) {
            auto monitor = countingMonitor();
            monitor->onFolderChanged = [&, i] {
                late += stopped >= i ? 1 : 0;
                ++m_calls;
            };
            const int calls = m_calls;
            monitor->start();
            if (i % 2 == 1) // else destroyed at once
                waitUntil([&] { return m_calls > calls; }, 1000ms);
            if (i % 3 == 0) {
                monitor->cancel();
                stopped = i;
            }
            monitor.reset();
            stopped = i;
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(late.load(), 0);
    EXPECT_GT(m_calls.load(), 10) << "the flood never reached the monitors";
    EXPECT_EQ(descriptors(), before);
}

// Reported once on the main thread, nothing after it even when remade; a cancel drops a queued report.
TEST_F(FolderMonitorTest, AFolderDeletedOrMovedAwayIsReportedGoneOnce)
{
    const QString folder = path("watched");
    const std::tuple<const char*, std::function<void()>, bool> endings[] = {
        {"deleted", [&] { ASSERT_TRUE(QDir(folder).removeRecursively()); }, false},
        {"moved away", [&] { ASSERT_TRUE(QDir().rename(folder, path("elsewhere"))); }, false},
        {"deleted, then cancelled", [&] { ASSERT_TRUE(QDir(folder).removeRecursively()); }, true}};
    for (const auto& [what, end, cancelled] : endings) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(QDir().mkpath(folder));
        writeFile(folder + "/Screenshot.png", "png");
        auto monitor = countingMonitor("watched");
        std::atomic<int> gone{0};
        monitor->onFolderGone = [&] { gone += onMainThread() ? 1 : 1000; };
        startQuietly(*monitor);
        end();
        QThread::msleep(100); // no event loop: a report waits in the queue
        if (cancelled)
            monitor->cancel();
        m_calls = 0; // what the folder's own end brought
        ASSERT_TRUE(QDir().mkpath(folder));
        writeFile(folder + "/Screenshot 2.png", "png");
        processEventsFor(200ms);
        EXPECT_EQ(gone.load(), cancelled ? 0 : 1);
        EXPECT_EQ(m_calls.load(), 0) << "changes reported after the folder went";
        ASSERT_TRUE(QDir(folder).removeRecursively() && QDir(path("elsewhere")).removeRecursively());
    }
}

// It follows the nearest existing ancestor up and down; a folder moved into place makes no create event.
TEST_F(FolderMonitorTest, AMissingFolderIsNoticedWhenItComesBack)
{
    ASSERT_TRUE(QDir().mkpath(path("a/b")));
    int appeared = 0;
    auto watch = std::make_unique<MissingFolderWatch>(path("a/b/watched"), 1h); // no poll: events only
    watch->onAppeared = [&] {
        ++appeared;
        watch.reset(); // as its owner does
    };
    watch->start();
    processEventsFor(100ms);
    EXPECT_EQ(watch->watchedDirectory(), path("a/b"));
    ASSERT_TRUE(QDir(path("a")).removeRecursively());
    processEventsFor(100ms);
    EXPECT_EQ(watch->watchedDirectory(), m_dir.path());
    ASSERT_TRUE(QDir().mkpath(path("a/b")) && QDir().mkpath(path("staging")));
    processEventsFor(100ms);
    EXPECT_EQ(watch->watchedDirectory(), path("a/b"));
    EXPECT_EQ(appeared, 0);
    ASSERT_TRUE(QDir().rename(path("staging"), path("a/b/watched")));
    EXPECT_TRUE(waitUntil([&] { return appeared > 0; }));
    processEventsFor(50ms);
    EXPECT_EQ(appeared, 1);
}

// The watch and its scans, end to end: a real folder, the real monitor, the real clock.
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
    EXPECT_EQ(
        stdoutOf([&] { watch.scanWatchedFolder(QUrl::fromLocalFile(custom)); }).rfind("❌ Monitor Error: ", 0),
        0u);
    watch.startWatching();
    EXPECT_EQ(watch.currentWatchURL().toLocalFile(), screenshotFolder);
    EXPECT_FALSE(watch.isUsingCustomWatchFolder());
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8()) << "kept for the next start";

    // A plain file where the folder should be: it cannot be created, listed or watched.
    screenshotFolder = home.filePath("blocked");
    test::writeFile(screenshotFolder, "not a folder");
    EXPECT_NE(stdoutOf([&] { watch.startWatching(); }).find(" — access: DENIED ❌\n"), std::string::npos);
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
        void start(std::chrono::milliseconds delay) override { due = *now + delay.count(); }
        void stop() override { due.reset(); }
        bool isActive() const override { return due.has_value(); }
        const qint64* now = nullptr;
        std::function<void()> fire;
        std::optional<qint64> due;
    };

    qint64 nowMs() const override { return now; }
    std::unique_ptr<Timer> createTimer(std::function<void()> onTimeout) override
    {
        ManualTimer* timer = timers.emplace_back(new ManualTimer);
        timer->now = &now;
        timer->fire = std::move(onTimeout);
        return std::unique_ptr<Timer>(timer);
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
    QList<QUrl> scans;
    bool paused = false;
    bool unfinished = false;
    ScanScheduler scheduler = ScanScheduler([this](const QUrl& folder) { scan(folder); },
                                            [this] { return paused; }, nullptr, 60ms, 50ms, 300ms, clock);

    Harness() { scheduler.watch(shots); }
    void scan(const QUrl& folder)
    {
        scans.append(folder);
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
    EXPECT_EQ(h.scans[1], other);

    h.scheduler.watch(QUrl());
    h.scheduler.folderChanged(QUrl());
    h.scheduler.folderChanged(other);
    h.clock->advance(1000ms);
    EXPECT_EQ(h.scans.size(), 2u) << "nothing watched, nothing scanned";
}

const QDateTime start(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC);

DirectoryEntry file(const char* name, qint64 offsetMs = 0, std::optional<qint64> size = 100)
{
    return {QString::fromUtf8(name), (start.toMSecsSinceEpoch() + offsetMs) * 1'000'000, size};
}

// Probes that answer from tables and record what was asked.
struct FakeFiles {
    QSet<QString> flagged, unflaggable, unfinished; // unflaggable: not readable as a PNG, no value
    mutable QStringList flagQueries;

    ScreenshotProbes probes() const
    {
        return {[this](const QString& path) -> std::optional<bool> {
                    flagQueries.append(path);
                    return unflaggable.contains(path) ? std::nullopt : std::optional(flagged.contains(path));
                },
                [this](const QString& path) { return !unfinished.contains(path); }};
    }
};

// Starts outside the range of nanoseconds since 1970 (1678 to 2262) must take everything or nothing.
TEST(ScreenshotCandidate, NeedsARecentPngWithAMarkerOrTheScreenCaptureFlag)
{
    FakeFiles files;
    files.flagged.insert(QStringLiteral("/shots/IMG_0002.png"));
    files.unflaggable.insert(QStringLiteral("/shots/IMG_0003.png"));
    const auto candidate = [&](const DirectoryEntry& entry, const QDateTime& startedAt = start) {
        SeenFiles seen;
        return !scanForNewScreenshots(QStringLiteral("/shots"), {entry}, startedAt, seen, files.probes())
                    .accepted.isEmpty();
    };
    for (const char* name :
         {"Screen Shot 1.png", "SKÄRMAVBILD.PNG", "Ska\u0308rmavbild.Png" /* decomposed ä */,
          "window-capture.png", "IMG_0002.png"})
        EXPECT_TRUE(candidate(file(name))) << name;
    for (const char* name : {"scree nshot.png", "skarm.png", "capt.png", "Screenshot.jpg", "Screenshot",
                             ".png", "IMG_0001.png", "IMG_0003.png"})
        EXPECT_FALSE(candidate(file(name))) << name;
    EXPECT_TRUE(candidate(file("Screenshot.png", -2000)));
    EXPECT_FALSE(candidate(file("Screenshot.png", -2001)));
    EXPECT_FALSE(candidate({"Screenshot.png", {}, 100}))
        << "an unreadable creation date counts as the distant past";
    const auto year = [](int number) { return QDateTime(QDate(number, 1, 1), QTime(0, 0), Qt::UTC); };
    for (const QDateTime& startedAt : {distantPast(), year(1600), year(3000), distantFuture()})
        EXPECT_EQ(candidate(file("Screenshot.png"), startedAt), startedAt < start)
            << startedAt.toString().toStdString();
}

// Oldest first, by name within a date; empty and half-written files wait unmarked, or they would never be
// taken.
TEST(ScreenshotScan, TakesNewFinishedScreenshotsOldestFirst)
{
    FakeFiles files;
    files.flagged = {QStringLiteral("/shots/IMG_1.png"), QStringLiteral("/shots/IMG_2.png")};
    files.unfinished = {QStringLiteral("/shots/Screenshot h.png")};
    std::vector<DirectoryEntry> entries{
        // the last three: empty, of unknown size and half written
        file("Screenshot c.png", 300),  file("Screenshot a.png", 100),   file("notes.txt", 50),
        file("Screenshot.jpg", 200),    file("Screenshot", 200),         file("Screenshot old.png", -60'000),
        file("IMG_1.png", 1),           file("Screenshot 1.png", 2),     file("IMG_2.png", 3),
        file("Screenshot e.png", 4, 0), file("Screenshot u.png", 5, {}), file("Screenshot h.png", 6)};
    QStringList burst; // equal dates, listed in no order: taken by name
    for (int i = 20; i > 0; --i) {
        entries.push_back(file(("Screenshot b" + QByteArray::number(i) + ".png").constData(), 200));
        burst << QStringLiteral("/shots/Screenshot b%1.png").arg(i);
    }
    burst.sort();
    SeenFiles seen;
    seen.screenshots.insert(QStringLiteral("/shots/IMG_1.png"), FileStamp::of(entries[6]));
    OwnOutputs ownOutputs;
    ownOutputs.add(QStringLiteral("/shots/Screenshot 1.png"));
    seen.ownOutputs = &ownOutputs;
    const auto scan = [&] { return scanForNewScreenshots("/shots/", entries, start, seen, files.probes()); };
    const ScanResult result = scan();
    EXPECT_EQ(result.accepted, (QStringList{"/shots/IMG_2.png", "/shots/Screenshot a.png"} + burst +
                                QStringList{"/shots/Screenshot c.png"}));
    EXPECT_EQ(files.flagQueries, QStringList{"/shots/IMG_2.png"}) << "seen files and marked names";
    EXPECT_TRUE(result.hasUnfinished);

    files.unfinished.clear(); // the writer has finished: the waiting files are taken, and only they
    entries[9].size = 10;
    const ScanResult later = scan();
    EXPECT_EQ(later.accepted, (QStringList{"/shots/Screenshot e.png", "/shots/Screenshot h.png"}));
    EXPECT_TRUE(later.hasUnfinished) << "the file of unknown size still waits";
    entries[10].size = 10;
    EXPECT_FALSE(scan().hasUnfinished);
}

// A tool that always saves under one name: only a replaced or rewritten file is new again.
TEST(ScreenshotScan, AFileAtATakenPathIsNewOnlyWhenReplacedOrRewritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Screenshot.png"));
    SeenFiles seen;
    const auto taken = [&] {
        QThread::msleep(20); // file times must be able to tell a change from what came before
        return scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(), seen,
                                     FakeFiles().probes())
            .accepted.size();
    };
    test::writeFile(path, "first");
    EXPECT_EQ(taken(), 1);
    EXPECT_EQ(taken(), 0) << "rescanned";
    ASSERT_EQ(::chmod(toNativePath(path).constData(), 0600), 0);
    // Without a birth time the status-change time stands in, and a new mode changes that.
    EXPECT_EQ(taken(), QFileInfo(path).birthTime().isValid() ? 0 : 1) << "permissions changed";
    test::writeFile(path, "2");
    EXPECT_EQ(taken(), 1) << "rewritten in place";
    test::writeFile(path + ".new", "3");
    ASSERT_EQ(::rename(toNativePath(path + ".new").constData(), toNativePath(path).constData()), 0);
    EXPECT_EQ(taken(), 1) << "replaced by a rename";
}

// Names that are not UTF-8 lead back to the same bytes; links are neither listed nor read through.
TEST(ScreenshotScan, OddNamesCountByTheRulesAndLinksNotAtAll)
{
    QTemporaryDir dir, outside;
    const QByteArray flagged =
        test::tinyPng(test::pngChunk("tEXt", QByteArrayLiteral("Software\0gnome-screenshot")));
    test::writeFile(outside.filePath("IMG.png"), flagged);
    const QByteArray plain = test::tinyPng();
    // Name, content, and whether a regular file of that name is a new screenshot.
    const std::tuple<QByteArray, QByteArray, bool> files[] = {
        {"IMG \xff\n.png", flagged, true},                        // by the file's own flag
        {"Scr\303eenshot.png", plain, false},                     // a lead byte alone breaks the marker
        {"Screenshot jpeg.png", "\xff\xd8\xff\xe0 a JPEG", true}, // not a PNG: taken as it is
    };
    const auto removeFiles = qScopeGuard([&] { // names Qt cannot remove
        for (const auto& file : files)
            ::unlink(toNativePath(dir.filePath(fromNativePath(std::get<0>(file)))).constData());
    });
    QStringList expected;
    for (const auto& [name, content, taken] : files) {
        test::writeFile(dir.filePath(fromNativePath(name)), content);
        if (taken)
            expected << dir.filePath(fromNativePath(name));
    }
    for (const char* name : {"Screenshot.png", "IMG.png"}) // links to folders, dangling, loops: hostile_input
        ASSERT_EQ(::symlink(toNativePath(outside.filePath("IMG.png")).constData(),
                            toNativePath(dir.filePath(name)).constData()),
                  0);

    SeenFiles seen;
    QStringList accepted = scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(),
                                                 seen, ScreenshotProbes::fromFiles())
                               .accepted;
    accepted.sort();
    expected.sort();
    EXPECT_EQ(accepted, expected);
    for (const char* unreadable : {"IMG.png", "missing.png", ""}) // a link, nothing, a folder
        EXPECT_EQ(pngScreenCaptureFlag(dir.filePath(unreadable)), std::nullopt) << unreadable;
    EXPECT_FALSE(screenshotFileIsComplete(dir.filePath("IMG.png")));
}

constexpr int kHeaderSize = 33; // signature and IHDR chunk

QByteArray tEXt(const QByteArray& keyword, const QByteArray& text)
{
    return pngChunk("tEXt", keyword + '\0' + text);
}

QByteArray zTXt(const QByteArray& keyword, const QByteArray& text, char method = 0)
{
    return pngChunk("zTXt", keyword + '\0' + method + test::zlibStream(text));
}

QByteArray iTXt(const QByteArray& keyword, const QByteArray& text, bool compressed,
                const QByteArray& language = {}, const QByteArray& translated = {})
{
    return pngChunk("iTXt", keyword + '\0' + char(compressed) + '\0' + language + '\0' + translated + '\0' +
                                (compressed ? test::zlibStream(text) : text));
}

// An XMP packet whose rdf:Description continues with `description` (its attributes, then '>').
QByteArray xmpPacket(const QByteArray& description)
{
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description rdf:about=\"\"" + description +
           "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

QByteArray xmp(const QByteArray& description, bool compressed = false)
{
    return iTXt("XML:com.adobe.xmp", xmpPacket(description), compressed);
}

// As macOS writes it.
QByteArray userComment(const QByteArray& value)
{
    return "<exif:UserComment>\n  <rdf:Alt>\n    <rdf:li xml:lang=\"x-default\">" + value +
           "</rdf:li>\n  </rdf:Alt>\n</exif:UserComment>";
}

const QByteArray kFlag = tEXt("Software", "gnome-screenshot");
const QByteArray kMacOS = ">" + userComment("Screenshot");

// The flag in `bytes` (an exact-size copy, so AddressSanitizer sees reads past the end), and in a file.
std::optional<bool> flagOf(const QByteArray& bytes)
{
    const std::optional<bool> flag =
        pngScreenCaptureFlagFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    const QTemporaryDir dir;
    test::writeFile(dir.filePath("file"), bytes);
    EXPECT_EQ(pngScreenCaptureFlag(dir.filePath("file")), flag);
    return flag;
}

// A filler chunk sized so that a flag chunk after it ends `overshoot` bytes past the read limit.
QByteArray filler(int overshoot)
{
    return pngChunk("quIl",
                    QByteArray(int(kPngFlagReadLimit) + overshoot - kHeaderSize - kFlag.size() - 12, 'f'));
}

// Text chunks before IDAT, and whether they flag a screen capture.
const std::tuple<const char*, QByteArray, bool> kCases[] = {
    {"tEXt", kFlag, true},
    {"after others", pngChunk("gAMA", bigEndian32(45455)) + tEXt("Comment", "x") + kFlag, true},
    {"other case", tEXt("Software", "GNOME-screenshot"), false},
    {"longer", tEXt("Software", "gnome-screenshot-x"), false},
    {"trailing NUL", tEXt("Software", QByteArray("gnome-screenshot\0", 17)), false},
    {"other keyword", tEXt("Description", "gnome-screenshot"), false},
    {"iTXt", iTXt("Software", "gnome-screenshot", false), true},
    {"iTXt zipped, language", iTXt("Software", "gnome-screenshot", true, "en", "Logiciel"), true},
    {"zTXt", zTXt("Software", "gnome-screenshot"), true},
    {"zTXt unknown method", zTXt("Software", "gnome-screenshot", 1), false},
    {"zTXt unzipped", pngChunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"), false},
    {"length over 2^31-1 first", bigEndian32(0x80000000) + "tEXt" + kFlag, false},
    {"XMP as macOS writes it", xmp(kMacOS), true},
    {"XMP compressed", xmp(kMacOS, true), true},
    {"XMP attribute", xmp(" exif:UserComment=\"Screenshot\">"), true},
    {"XMP attribute in single quotes", xmp("\n  exif:UserComment = 'Screenshot'>"), true},
    {"XMP plain element text", xmp("><exif:UserComment> Screenshot </exif:UserComment>"), true},
    {"XMP longer comment", xmp(">" + userComment("Not a Screenshot")), false},
    {"XMP word elsewhere", xmp("><dc:title>Screenshot</dc:title>" + userComment("Holiday")), false},
    {"word after", xmp(">" + userComment("x") + "<dc:title><rdf:li>Screenshot</rdf:li></dc:title>"), false},
    {"XMP another attribute", xmp(" exif:UserComment=\"Holiday\" dc:title=\"Screenshot\">"), false},
    {"XMP longer element name", xmp("><exif:UserCommentX>Screenshot</exif:UserCommentX>"), false},
    {"XMP unterminated element", xmp("><exif:UserComment><rdf:li>Screenshot</rdf:li>"), false},
    {"XMP self-closing",
     xmp("><exif:UserComment/><dc:title><rdf:li>Screenshot</rdf:li></dc:title>" + userComment("x")), false},
    {"XMP in a tEXt Comment", tEXt("Comment", xmpPacket(kMacOS)), false},
    {"no text chunk", {}, false},
    {"flag ending at the read limit", filler(0) + kFlag, true},
    {"flag ending past the read limit", filler(1) + kFlag, false},
};

// Software "gnome-screenshot" in any kind of text chunk, or an XMP UserComment "Screenshot".
TEST(PngScreenCaptureFlag, ReadsSoftwareAndTheXmpUserCommentFromTextChunksBeforeIDAT)
{
    for (const auto& [name, beforeData, expected] : kCases)
        EXPECT_EQ(flagOf(tinyPng(beforeData)), expected) << name;
    EXPECT_EQ(flagOf(tinyPng({}, kFlag)), false) << "after IDAT";
}

} // namespace
} // namespace quillary
