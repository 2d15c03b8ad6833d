#include "detect/FolderMonitor.h"
#include "detect/MissingFolderWatch.h"
#include "platform/FolderEventSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace quillary {
namespace {

using namespace test;

int openDescriptorCount()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return int(std::distance(begin(fds), end(fds)));
}

std::string reasonText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)).toStdString();
}

// Starts `monitor` and returns what it printed.
std::string startQuietly(FolderMonitor& monitor)
{
    testing::internal::CaptureStdout();
    monitor.start();
    return testing::internal::GetCapturedStdout();
}

bool onMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

class FolderMonitorTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        processEventsFor(10ms); // let Qt open whatever it opens lazily before fds are counted
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QUrl folderURL() const { return QUrl::fromLocalFile(m_dir.path()); }

    std::unique_ptr<FolderMonitor> countingMonitor()
    {
        auto monitor = std::make_unique<FolderMonitor>(folderURL());
        monitor->onFolderChanged = [this] {
            m_callsOnMainThread.fetch_add(onMainThread() ? 1 : 0);
            m_calls.fetch_add(1);
        };
        return monitor;
    }

    // Lets the events of earlier steps arrive, runs `change` and expects it to be reported.
    void expectReported(const char* what, const std::function<void()>& change)
    {
        processEventsFor(100ms);
        const int before = m_calls.load();
        change();
        EXPECT_TRUE(waitUntil([&] { return m_calls.load() > before; })) << what;
    }

    QTemporaryDir m_dir;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_callsOnMainThread{0};
};

// Each step causes exactly one kind of inotify event, so each watched kind is checked on its own.
TEST_F(FolderMonitorTest, ReportsCreateCloseAfterWriteRenameAndDeleteFromABackgroundThread)
{
    writeFile(path("old.png"), "png");
    auto monitor = countingMonitor();
    EXPECT_EQ(startQuietly(*monitor),
              "📍 Quillary: Watching " + QDir(m_dir.path()).dirName().toStdString() + "...\n");
    ASSERT_GE(monitor->fileDescriptor(), 0);

    QFile slow(path("slow.png"));
    expectReported("create", [&] { ASSERT_TRUE(slow.open(QIODevice::WriteOnly)); });
    processEventsFor(100ms);
    const int beforeWrite = m_calls.load();
    ASSERT_EQ(slow.write("png data"), 8); // incomplete until closed: not worth a look yet
    ASSERT_TRUE(slow.flush());
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), beforeWrite);
    expectReported("close after write", [&] { slow.close(); });
    expectReported("rename", [&] { ASSERT_TRUE(QFile::rename(path("old.png"), path("new.png"))); });
    expectReported("delete", [&] { ASSERT_TRUE(QFile::remove(path("new.png"))); });
    EXPECT_EQ(m_callsOnMainThread.load(), 0);
}

// Only EACCES is a permission problem; a file where the folder should be gives ENOTDIR.
TEST_F(FolderMonitorTest, OpenFailurePrintsTheReasonAndCallsNothing)
{
    writeFile(path("file.png"), "png");
    for (const auto& [name, error] : {std::pair{"missing", ENOENT}, std::pair{"file.png", ENOTDIR}}) {
        const QString target = path(name);
        FolderMonitor monitor(QUrl::fromLocalFile(target));
        monitor.onPermissionDenied = [&] { m_calls.fetch_add(1); };
        monitor.onFolderChanged = [&] { m_calls.fetch_add(1); };
        EXPECT_EQ(startQuietly(monitor), "❌ Error: Could not open folder for monitoring at " +
                                             target.toStdString() + ". Reason: " + reasonText(error) + "\n");
        EXPECT_EQ(monitor.fileDescriptor(), -1);
        EXPECT_EQ(monitor.monitorSource(), nullptr);
        processEventsFor(100ms);
    }
    EXPECT_EQ(m_calls.load(), 0);
}

// Runs in whichever process has the unprivileged identity, so it reports instead of asserting.
std::string checkPermissionDenied(const QString& lockedFolder)
{
    std::string problems;
    const auto expect = [&](bool condition, const std::string& what) {
        if (!condition)
            problems += what + "\n";
    };
    std::atomic<int> denied{0}, changed{0};
    {
        FolderMonitor monitor(QUrl::fromLocalFile(lockedFolder));
        monitor.onPermissionDenied = [&] { denied.fetch_add(onMainThread() ? 1 : 100); };
        monitor.onFolderChanged = [&] { changed.fetch_add(1); };
        const std::string output = startQuietly(monitor);
        expect(output.find(". Reason: " + reasonText(EACCES)) != std::string::npos, "message: " + output);
        expect(denied.load() == 0, "onPermissionDenied ran inside start instead of being queued");
    } // the queued call must outlive the monitor
    expect(waitUntil([&] { return denied.load() > 0; }), "onPermissionDenied never ran");
    processEventsFor(100ms);
    expect(denied.load() == 1,
           "onPermissionDenied: " + std::to_string(denied.load()) + " (off the main thread: 100)");
    expect(changed.load() == 0, "onFolderChanged ran for a refused folder");
    return problems;
}

TEST_F(FolderMonitorTest, RefusedAccessCallsOnPermissionDeniedOnceOnTheMainThread)
{
    const QString locked = path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(checkPermissionDenied(locked), "");
        ::chmod(locked.toLocal8Bit().constData(), 0700);
        return;
    }

    // Root ignores permission bits, so the check runs in a child that has become 'nobody'; it
    // prints its complaints and reports through its exit status.
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(77);
        const std::string problems = checkPermissionDenied(locked);
        std::fputs(problems.c_str(), stderr);
        ::_exit(problems.empty() ? 0 : 1); // no gtest or leak-check teardown in the copy of the test process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child status " << status;
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "running as root, and privileges could not be dropped to 'nobody' to get a refusal";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged check failed: see its output above";
}

TEST_F(FolderMonitorTest, OpensOnceClosesOnCancelAndCanRestart)
{
    const int before = openDescriptorCount();
    auto monitor = countingMonitor();
    EXPECT_EQ(openDescriptorCount(), before) << "construction opened something";
    startQuietly(*monitor);
    const int afterFirst = openDescriptorCount();
    FolderEventSource* source = monitor->monitorSource();
    ASSERT_GT(afterFirst, before);
    EXPECT_EQ(startQuietly(*monitor), "");
    EXPECT_EQ(openDescriptorCount(), afterFirst);
    EXPECT_EQ(monitor->monitorSource(), source);
    ASSERT_TRUE(QDir().mkdir(path("sub"))); // still one watch: one event, one call
    ASSERT_TRUE(waitUntil([&] { return m_calls.load() > 0; }));
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 1);

    monitor->cancel();
    EXPECT_EQ(monitor->fileDescriptor(), -1);
    EXPECT_EQ(monitor->monitorSource(), nullptr);
    EXPECT_EQ(openDescriptorCount(), before);
    writeFile(path("ignored.png"), "png");
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 1);
    monitor->cancel(); // nothing left to do

    startQuietly(*monitor);
    writeFile(path("seen.png"), "png");
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > 1; }));
}

TEST_F(FolderMonitorTest, TeardownWhileEventsPourInLeavesNothingBehind)
{
    struct Lifetime {
        std::atomic<int> calls{0}, callsAfterDestruction{0};
        std::atomic<bool> destroyed{false};
    };
    constexpr int kLifetimes = 50;
    std::vector<std::unique_ptr<Lifetime>> lifetimes;
    const int before = openDescriptorCount();
    {
        const std::jthread flooder([folder = m_dir.path()](std::stop_token stop) {
            for (int round = 0; !stop.stop_requested(); ++round) {
                const QString name = folder + "/flood-" + QString::number(round % 8);
                QFile file(name);
                if (file.open(QIODevice::WriteOnly))
                    file.write("x");
                file.close();
                QFile::rename(name, name + ".moved");
                QFile::remove(name + ".moved");
            }
        });
        for (int i = 0; i < kLifetimes; ++i) {
            auto& lifetime = *lifetimes.emplace_back(std::make_unique<Lifetime>());
            auto monitor = std::make_unique<FolderMonitor>(folderURL());
            monitor->onFolderChanged = [&lifetime] {
                lifetime.callsAfterDestruction.fetch_add(lifetime.destroyed.load() ? 1 : 0);
                lifetime.calls.fetch_add(1);
            };
            startQuietly(*monitor);
            ASSERT_GE(monitor->fileDescriptor(), 0);
            // Alternate between tearing down at once and while deliveries are under way.
            if (i % 2 == 1)
                waitUntil([&] { return lifetime.calls.load() > 0; }, 1000ms);
            if (i % 4 == 3)
                monitor->cancel();
            monitor.reset();
            lifetime.destroyed.store(true);
        }
        processEventsFor(50ms);
    }
    int deliveredTo = 0;
    for (const auto& lifetime : lifetimes) {
        EXPECT_EQ(lifetime->callsAfterDestruction.load(), 0);
        deliveredTo += lifetime->calls.load() > 0 ? 1 : 0;
    }
    EXPECT_GE(deliveredTo, kLifetimes / 2) << "the flood never reached the monitors";
    EXPECT_EQ(openDescriptorCount(), before);
}

// The handler cancels its own monitor; the second time it is still running when the owner destroys it.
TEST_F(FolderMonitorTest, CancelFromInsideTheHandlerStopsDeliveryAndDestructionWaitsForIt)
{
    const int before = openDescriptorCount();
    std::atomic<bool> cancelled{false}, returned{false};
    auto monitor = std::make_unique<FolderMonitor>(folderURL());
    monitor->onFolderChanged = [&] {
        m_calls.fetch_add(1);
        monitor->cancel();
        cancelled.store(true);
        std::this_thread::sleep_for(150ms);
        returned.store(true);
    };
    startQuietly(*monitor);
    writeFile(path("first.png"), "png");
    ASSERT_TRUE(waitUntil([&] { return cancelled.load(); }));
    EXPECT_EQ(monitor->fileDescriptor(), -1);
    EXPECT_EQ(monitor->monitorSource(), nullptr);
    EXPECT_EQ(openDescriptorCount(), before) << "closed only once the handler returned";
    writeFile(path("second.png"), "png");
    ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 1);

    cancelled = returned = false;
    startQuietly(*monitor);
    writeFile(path("third.png"), "png");
    ASSERT_TRUE(waitUntil([&] { return cancelled.load(); }));
    monitor.reset();
    EXPECT_TRUE(returned.load()) << "the monitor died while its handler was still running";
    EXPECT_EQ(m_calls.load(), 2);
    EXPECT_EQ(openDescriptorCount(), before);
}

// The watch ends with its folder: that is reported once, on the main thread, and nothing after it,
// even when a folder of the same name is made again.
TEST_F(FolderMonitorTest, AFolderDeletedOrMovedAwayIsReportedGoneOnceOnTheMainThread)
{
    const QString folder = path("watched");
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"deleted", [&] { ASSERT_TRUE(QDir(folder).removeRecursively()); }},
        {"moved away", [&] { ASSERT_TRUE(QDir().rename(folder, path("elsewhere"))); }},
    };
    for (const auto& [what, end] : endings) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(QDir().mkpath(folder));
        writeFile(folder + "/Screenshot.png", "png");
        std::atomic<int> gone{0}, goneOffTheMainThread{0}, changedAfterGone{0};
        FolderMonitor monitor(QUrl::fromLocalFile(folder));
        monitor.onFolderGone = [&] { (onMainThread() ? gone : goneOffTheMainThread).fetch_add(1); };
        monitor.onFolderChanged = [&] { changedAfterGone.fetch_add(gone.load()); };
        startQuietly(monitor);
        end();
        EXPECT_TRUE(waitUntil([&] { return gone.load() + goneOffTheMainThread.load() > 0; }));
        ASSERT_TRUE(QDir().mkpath(folder));
        writeFile(folder + "/Screenshot 2.png", "png");
        processEventsFor(100ms);
        EXPECT_EQ(gone.load(), 1);
        EXPECT_EQ(goneOffTheMainThread.load(), 0);
        EXPECT_EQ(changedAfterGone.load(), 0);
        ASSERT_TRUE(QDir(folder).removeRecursively() && QDir(path("elsewhere")).removeRecursively());
    }

    // Cancelled after the report was queued but before it ran: it is dropped.
    ASSERT_TRUE(QDir().mkpath(folder));
    std::atomic<int> gone{0};
    FolderMonitor monitor(QUrl::fromLocalFile(folder));
    monitor.onFolderGone = [&] { gone.fetch_add(1); };
    startQuietly(monitor);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QThread::msleep(100); // no event loop: the report waits in the queue
    monitor.cancel();
    processEventsFor(100ms);
    EXPECT_EQ(gone.load(), 0);
}

// A missing folder may be made again, moved into place, or come back with the folders above it
// after they went too; the watch follows the nearest folder above it that exists.
TEST_F(FolderMonitorTest, AMissingFolderIsNoticedWhenItComesBackHoweverItDoes)
{
    const QString folder = path("a/b/watched");
    const std::tuple<const char*, std::function<void()>, QString> returns[] = {
        {"made again", [&] { ASSERT_TRUE(QDir().mkdir(folder)); }, path("a/b")},
        {"moved into place",
         [&] {
             ASSERT_TRUE(QDir().mkdir(path("staging")));
             ASSERT_TRUE(QDir().rename(path("staging"), folder));
         },
         path("a/b")},
        {"with its parents", [&] { ASSERT_TRUE(QDir().mkpath(folder)); }, m_dir.path()},
    };
    for (const auto& [what, comeBack, watchedAbove] : returns) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(QDir().mkpath(path("a/b")));
        int appeared = 0;
        // No poll to speak of: the events alone must do it.
        auto watch = std::make_unique<MissingFolderWatch>(folder, std::chrono::hours(1));
        watch->onAppeared = [&] {
            ++appeared;
            watch.reset(); // as its owner does
        };
        watch->start();
        processEventsFor(100ms);
        EXPECT_EQ(watch->watchedDirectory(), path("a/b"));
        if (watchedAbove != path("a/b")) {
            ASSERT_TRUE(QDir(path("a")).removeRecursively());
            processEventsFor(100ms);
            EXPECT_EQ(watch->watchedDirectory(), watchedAbove);
        }
        EXPECT_EQ(appeared, 0);
        comeBack();
        EXPECT_TRUE(waitUntil([&] { return appeared > 0; }));
        processEventsFor(50ms);
        EXPECT_EQ(appeared, 1);
        ASSERT_TRUE(QDir(path("a")).removeRecursively());
    }
}

} // namespace
} // namespace quillary
