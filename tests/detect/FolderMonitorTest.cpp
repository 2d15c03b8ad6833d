#include "detect/FolderMonitor.h"
#include "detect/MissingFolderWatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

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
        testing::internal::CaptureStdout();
        monitor.start();
        return testing::internal::GetCapturedStdout();
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

} // namespace
} // namespace quillary
