#include "detect/FolderMonitor.h"
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

using test::processEventsFor;
using test::waitUntil;
using test::writeFile;

int openDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool descriptorIsOpen(int descriptor)
{
    return std::filesystem::exists("/proc/self/fd/" + std::to_string(descriptor));
}

QString reasonText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

    // A started monitor counting its calls.
    std::unique_ptr<FolderMonitor> startCounting()
    {
        auto monitor = std::make_unique<FolderMonitor>(folderURL());
        monitor->onFolderChanged = [this] {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                m_callsOnMainThread.fetch_add(1);
            m_calls.fetch_add(1);
        };
        monitor->start();
        return monitor;
    }

    // Waits for the events of the preparation to arrive, then returns the count to compare with.
    int settledCalls()
    {
        processEventsFor(100ms);
        return m_calls.load();
    }

    QTemporaryDir m_dir;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_callsOnMainThread{0};
};

// --- Which changes fire ---------------------------------------------------------------------

TEST_F(FolderMonitorTest, FiresOnCreateFromABackgroundThread)
{
    testing::internal::CaptureStdout();
    auto monitor = startCounting();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "📍 Quillary: Watching " + QDir(m_dir.path()).dirName().toStdString() + "...\n");
    ASSERT_NE(monitor->monitorSource(), nullptr);
    ASSERT_GE(monitor->fileDescriptor(), 0);

    writeFile(path("shot.png"), "png");
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > 0; }));
    EXPECT_EQ(m_callsOnMainThread.load(), 0);
}

TEST_F(FolderMonitorTest, FiresOnDelete)
{
    writeFile(path("shot.png"), "png");
    auto monitor = startCounting();
    const int before = settledCalls();

    ASSERT_TRUE(QFile::remove(path("shot.png")));
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > before; }));
}

TEST_F(FolderMonitorTest, FiresOnRenameInsideTheFolder)
{
    writeFile(path("shot.png"), "png");
    auto monitor = startCounting();
    const int before = settledCalls();

    ASSERT_TRUE(QFile::rename(path("shot.png"), path("renamed.png")));
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > before; }));
}

TEST_F(FolderMonitorTest, FiresWhenAFileCreatedEmptyIsClosedAfterWriting)
{
    QFile file(path("slow.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    auto monitor = startCounting();
    const int before = settledCalls();

    // Writing alone is not a change worth a look: the file is complete only once closed.
    ASSERT_EQ(file.write("png data"), 8);
    ASSERT_TRUE(file.flush());
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), before);

    file.close();
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > before; }));
}

// --- Failures -------------------------------------------------------------------------------

TEST_F(FolderMonitorTest, MissingFolderPrintsTheReasonAndCallsNothing)
{
    const QString missing = path("missing");
    FolderMonitor monitor(QUrl::fromLocalFile(missing));
    std::atomic<int> denied{0};
    monitor.onPermissionDenied = [&] { denied.fetch_add(1); };
    monitor.onFolderChanged = [&] { m_calls.fetch_add(1); };

    testing::internal::CaptureStdout();
    monitor.start();
    const std::string output = testing::internal::GetCapturedStdout();

    const QString expected = "❌ Error: Could not open folder for monitoring at " + missing +
                             ". Reason: " + reasonText(ENOENT) + "\n";
    EXPECT_EQ(output, expected.toStdString());
    EXPECT_EQ(monitor.fileDescriptor(), -1);
    EXPECT_EQ(monitor.monitorSource(), nullptr);

    ASSERT_TRUE(QDir().mkdir(missing)); // appearing later changes nothing: there is no watch
    writeFile(missing + "/shot.png", "png");
    processEventsFor(100ms);
    EXPECT_EQ(denied.load(), 0);
    EXPECT_EQ(m_calls.load(), 0);
}

TEST_F(FolderMonitorTest, AFileInsteadOfAFolderIsNotAPermissionProblem)
{
    writeFile(path("file.png"), "png");
    FolderMonitor monitor(QUrl::fromLocalFile(path("file.png")));
    std::atomic<int> denied{0};
    monitor.onPermissionDenied = [&] { denied.fetch_add(1); };

    testing::internal::CaptureStdout();
    monitor.start();
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_NE(output.find(". Reason: " + reasonText(ENOTDIR).toStdString() + "\n"), std::string::npos)
        << output;
    EXPECT_EQ(monitor.fileDescriptor(), -1);
    processEventsFor(50ms);
    EXPECT_EQ(denied.load(), 0);
}

// Runs the refused-access checks; returns what went wrong, empty when nothing did. It runs in
// whichever process has the unprivileged identity, so it reports instead of asserting.
std::string checkPermissionDenied(const QString& lockedFolder)
{
    std::string problems;
    const auto expect = [&](bool condition, const std::string& what) {
        if (!condition)
            problems += what + "\n";
    };

    std::atomic<int> denied{0};
    std::atomic<int> deniedOffMainThread{0};
    std::atomic<int> changed{0};
    {
        FolderMonitor monitor(QUrl::fromLocalFile(lockedFolder));
        monitor.onPermissionDenied = [&] {
            denied.fetch_add(1);
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                deniedOffMainThread.fetch_add(1);
        };
        monitor.onFolderChanged = [&] { changed.fetch_add(1); };
        testing::internal::CaptureStdout();
        monitor.start();
        const std::string output = testing::internal::GetCapturedStdout();
        expect(output.find(". Reason: " + reasonText(EACCES).toStdString()) != std::string::npos,
               "message without the EACCES reason: " + output);
        expect(monitor.fileDescriptor() == -1, "descriptor set after a refused open");
        expect(denied.load() == 0, "onPermissionDenied ran inside start instead of being queued");
        expect(waitUntil([&] { return denied.load() > 0; }), "onPermissionDenied never ran");
        processEventsFor(100ms);
        expect(denied.load() == 1, "onPermissionDenied ran " + std::to_string(denied.load()) + " times");
        expect(deniedOffMainThread.load() == 0, "onPermissionDenied ran off the main thread");
        expect(changed.load() == 0, "onFolderChanged ran for a refused folder");
    }

    // The queued call outlives the monitor.
    std::atomic<int> lateDenied{0};
    {
        FolderMonitor monitor(QUrl::fromLocalFile(lockedFolder));
        monitor.onPermissionDenied = [&] { lateDenied.fetch_add(1); };
        testing::internal::CaptureStdout();
        monitor.start();
        testing::internal::GetCapturedStdout();
    }
    processEventsFor(100ms);
    expect(lateDenied.load() == 1,
           "queued onPermissionDenied after destruction ran " + std::to_string(lateDenied.load()) + " times");
    return problems;
}

TEST_F(FolderMonitorTest, RefusedAccessCallsOnPermissionDeniedOnceOnTheMainThread)
{
    const QString locked = path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0), 0);

    if (::geteuid() != 0) {
        const std::string problems = checkPermissionDenied(locked);
        ::chmod(locked.toLocal8Bit().constData(), 0700);
        EXPECT_EQ(problems, "");
        return;
    }

    // Root ignores permission bits, so the check runs in a child that has become 'nobody'.
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0755), 0);
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        constexpr uid_t nobody = 65534;
        std::string report = "skip";
        if (::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0 &&
            ::setresuid(nobody, nobody, nobody) == 0)
            report = "ran\n" + checkPermissionDenied(locked);
        [[maybe_unused]] const ssize_t written = ::write(channel[1], report.data(), report.size());
        ::_exit(0); // no gtest or leak-check teardown in the copy of the test process
    }
    ::close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t count; (count = ::read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno == EINTR)
            continue;
        ASSERT_GT(count, 0) << std::strerror(errno);
        report.append(buffer, static_cast<size_t>(count));
    }
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    if (report == "skip")
        GTEST_SKIP() << "running as root, which bypasses permission bits, and privileges could not be "
                        "dropped to 'nobody' to get a refusal";
    EXPECT_EQ(report, "ran\n");
}

// --- Lifetime -------------------------------------------------------------------------------

TEST_F(FolderMonitorTest, ConstructionOpensNothing)
{
    const int before = openDescriptorCount();
    FolderMonitor monitor(folderURL());
    EXPECT_EQ(monitor.fileDescriptor(), -1);
    EXPECT_EQ(monitor.monitorSource(), nullptr);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(FolderMonitorTest, SecondStartOpensNothing)
{
    const int before = openDescriptorCount();
    auto monitor = startCounting();
    const int afterFirst = openDescriptorCount();
    const int descriptor = monitor->fileDescriptor();
    FolderEventSource* source = monitor->monitorSource();
    ASSERT_GT(afterFirst, before);

    testing::internal::CaptureStdout();
    monitor->start();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(openDescriptorCount(), afterFirst);
    EXPECT_EQ(monitor->fileDescriptor(), descriptor);
    EXPECT_EQ(monitor->monitorSource(), source);

    // Still one watch: a single event gives one call, not one per start.
    ASSERT_TRUE(QDir().mkdir(path("sub")));
    ASSERT_TRUE(waitUntil([&] { return m_calls.load() > 0; }));
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 1);
}

TEST_F(FolderMonitorTest, CancelClosesTheDescriptorAndStopsDelivery)
{
    const int before = openDescriptorCount();
    auto monitor = startCounting();
    const int descriptor = monitor->fileDescriptor();
    ASSERT_TRUE(descriptorIsOpen(descriptor));

    monitor->cancel();
    EXPECT_EQ(monitor->fileDescriptor(), -1);
    EXPECT_EQ(monitor->monitorSource(), nullptr);
    EXPECT_FALSE(descriptorIsOpen(descriptor));
    EXPECT_EQ(openDescriptorCount(), before);

    writeFile(path("shot.png"), "png");
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 0);

    monitor->cancel(); // again: nothing left to do
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(FolderMonitorTest, StartAfterCancelWatchesAgain)
{
    auto monitor = startCounting();
    monitor->cancel();
    monitor->start();
    ASSERT_GE(monitor->fileDescriptor(), 0);
    writeFile(path("shot.png"), "png");
    EXPECT_TRUE(waitUntil([&] { return m_calls.load() > 0; }));
}

// Creates, renames and deletes files in `folder` until stopped.
class Flooder final {
public:
    explicit Flooder(QString folder)
        : m_thread([this, folder = std::move(folder)] {
            for (int round = 0; !m_stop.load(); ++round) {
                const QString name = folder + "/flood-" + QString::number(round % 8);
                QFile file(name);
                if (file.open(QIODevice::WriteOnly))
                    file.write("x");
                file.close();
                QFile::rename(name, name + ".moved");
                QFile::remove(name + ".moved");
            }
        })
    {
    }
    ~Flooder()
    {
        m_stop.store(true);
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(FolderMonitorTest, TeardownWhileEventsPourInLeavesNothingBehind)
{
    struct Lifetime {
        std::atomic<int> calls{0};
        std::atomic<bool> destroyed{false};
        std::atomic<int> callsAfterDestruction{0};
    };
    constexpr int kLifetimes = 50;
    std::vector<std::unique_ptr<Lifetime>> lifetimes;
    const int before = openDescriptorCount();
    {
        Flooder flooder(m_dir.path());
        for (int i = 0; i < kLifetimes; ++i) {
            auto& lifetime = *lifetimes.emplace_back(std::make_unique<Lifetime>());
            auto monitor = std::make_unique<FolderMonitor>(folderURL());
            monitor->onFolderChanged = [&lifetime] {
                if (lifetime.destroyed.load())
                    lifetime.callsAfterDestruction.fetch_add(1);
                lifetime.calls.fetch_add(1);
            };
            testing::internal::CaptureStdout();
            monitor->start();
            testing::internal::GetCapturedStdout();
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

TEST_F(FolderMonitorTest, CancelFromInsideTheHandlerStopsDelivery)
{
    const int before = openDescriptorCount();
    FolderMonitor monitor(folderURL());
    monitor.onFolderChanged = [&] {
        monitor.cancel();
        m_calls.fetch_add(1);
    };
    testing::internal::CaptureStdout();
    monitor.start();
    testing::internal::GetCapturedStdout();
    const int descriptor = monitor.fileDescriptor();

    writeFile(path("first.png"), "png");
    ASSERT_TRUE(waitUntil([&] { return m_calls.load() > 0; }));
    EXPECT_EQ(monitor.fileDescriptor(), -1);
    EXPECT_EQ(monitor.monitorSource(), nullptr);
    EXPECT_FALSE(descriptorIsOpen(descriptor));

    writeFile(path("second.png"), "png");
    processEventsFor(100ms);
    EXPECT_EQ(m_calls.load(), 1);

    monitor.cancel(); // from the main thread: joins the finished delivery thread
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(FolderMonitorTest, DestructionWaitsForAHandlerThatCancelledItself)
{
    std::atomic<bool> handlerCancelled{false};
    std::atomic<bool> handlerReturned{false};
    auto monitor = std::make_unique<FolderMonitor>(folderURL());
    monitor->onFolderChanged = [&] {
        if (handlerCancelled.load())
            return;
        monitor->cancel();
        handlerCancelled.store(true);
        std::this_thread::sleep_for(100ms); // the owner tears down meanwhile
        handlerReturned.store(true);
    };
    testing::internal::CaptureStdout();
    monitor->start();
    testing::internal::GetCapturedStdout();

    writeFile(path("shot.png"), "png");
    ASSERT_TRUE(waitUntil([&] { return handlerCancelled.load(); }));
    monitor.reset();
    EXPECT_TRUE(handlerReturned.load()) << "the monitor died while its handler was still running";
}

} // namespace
} // namespace quillary
