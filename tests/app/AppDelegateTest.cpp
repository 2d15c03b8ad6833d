#include "core/NotificationCenter.h"
#include "detect/FolderMonitor.h"
#include "detect/WatchController.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QThread>

using namespace quillary;

namespace {

using Status = LoginItemService::Status;

class AppDelegateTest : public ::testing::Test, public test::DelegateHarness {
protected:
    // Runs `step` and returns what it printed.
    static std::string printed(const std::function<void()>& step)
    {
        testing::internal::CaptureStdout();
        step();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(AppDelegateTest, FirstLaunchWatchesTheHomeDesktopRestartsAndReportsAFolderItCannotList)
{
    auto delegate = makeDelegate();
    EXPECT_TRUE(store.boolValue(prefs::showPopup)) << "creating the delegate registers the defaults";
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::notStarted);
    EXPECT_GT(delegate->watch().monitorStartedAt(), QDateTime::currentDateTimeUtc().addYears(100));

    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    delegate->applicationDidFinishLaunching();

    EXPECT_EQ(AppDelegate::shared(), delegate.get());
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::active);
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), home.filePath(QStringLiteral("Desktop")));
    EXPECT_FALSE(delegate->isUsingCustomWatchFolder());
    EXPECT_GE(delegate->watch().monitorStartedAt(), before);
    ASSERT_NE(delegate->watch().monitor(), nullptr);
    const int firstDescriptor = delegate->watch().monitor()->fileDescriptor();
    EXPECT_GE(firstDescriptor, 0);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(items->registerCalls + items->unregisterCalls, 0);

    // A restart replaces the monitor and announces the state again.
    const QDateTime firstStart = delegate->watch().monitorStartedAt();
    changed.clear();
    QThread::msleep(5);
    const std::string output = printed([&] { delegate->startWatching(); });

    EXPECT_EQ(changed.count(), 1);
    EXPECT_GT(delegate->watch().monitorStartedAt(), firstStart);
    ASSERT_NE(delegate->watch().monitor(), nullptr);
    EXPECT_GE(delegate->watch().monitor()->fileDescriptor(), 0);
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(firstDescriptor)).exists(),
              delegate->watch().monitor()->fileDescriptor() == firstDescriptor)
        << "the old descriptor is closed unless its number was reused";
    EXPECT_NE(output.find("📍 Quillary: Watching " + home.filePath(QStringLiteral("Desktop")).toStdString() +
                          " — access: OK ✅\n"),
              std::string::npos)
        << output;

    // A plain file where the Desktop should be: it cannot be created, listed or watched.
    ASSERT_TRUE(QDir(home.filePath(QStringLiteral("Desktop"))).removeRecursively());
    test::writeFile(home.filePath(QStringLiteral("Desktop")), "not a folder");
    const std::string denied = printed([&] { delegate->startWatching(); });
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
    EXPECT_NE(denied.find("❌ Error: Could not open folder for monitoring at "), std::string::npos) << denied;
    EXPECT_NE(denied.find(" — access: DENIED ❌"), std::string::npos) << denied;
}

TEST_F(AppDelegateTest, LoginItemIsRegisteredOnlyWhenWantedAndNotAlreadyEnabledAndFailsSilently)
{
    struct Case {
        bool wanted;
        Status status;
        int registerCalls;
        std::optional<QString> failure = std::nullopt;
    };
    for (const Case& c : {Case{true, Status::notRegistered, 1}, Case{true, Status::enabled, 0},
                          Case{true, Status::requiresApproval, 1}, Case{false, Status::enabled, 0},
                          Case{true, Status::notRegistered, 1, QStringLiteral("disk full")}}) {
        SCOPED_TRACE(testing::Message() << c.wanted << ' ' << int(c.status) << ' ' << c.failure.has_value());
        store.setBool(prefs::launchAtLogin, c.wanted);
        auto delegate = makeDelegate(c.status, c.failure);
        const std::string output = printed([&] { delegate->applicationDidFinishLaunching(); });
        EXPECT_EQ(items->registerCalls, c.registerCalls);
        EXPECT_EQ(items->unregisterCalls, 0) << "launch never unregisters";
        EXPECT_EQ(output.find("disk full"), std::string::npos) << output;
        EXPECT_EQ(store.boolValue(prefs::launchAtLogin), c.wanted);
    }
}

} // namespace
