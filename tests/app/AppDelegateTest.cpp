#include "app/AppDelegate.h"
#include "app/Interaction.h"
#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "detect/FolderMonitor.h"
#include "platform/LoginItemService.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

using namespace quillary;

namespace {

class AppDelegateTest : public ::testing::Test, public test::DelegateHarness {};

TEST_F(AppDelegateTest, FirstLaunchWatchesTheHomeDesktopAndRegistersNoLoginItem)
{
    auto delegate = makeDelegate(LoginItemService::Status::notRegistered);
    EXPECT_TRUE(store.boolValue(prefs::showPopup)) << "creating the delegate registers the defaults";
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::notStarted);
    EXPECT_GT(delegate->monitorStartedAt(), QDateTime::currentDateTimeUtc().addYears(100));

    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    delegate->applicationDidFinishLaunching();

    EXPECT_EQ(AppDelegate::shared(), delegate.get());
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::active);
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), home.filePath(QStringLiteral("Desktop")));
    EXPECT_TRUE(QFileInfo(home.filePath(QStringLiteral("Desktop"))).isDir());
    EXPECT_FALSE(delegate->isUsingCustomWatchFolder());
    EXPECT_GE(delegate->monitorStartedAt(), before);
    ASSERT_NE(delegate->monitor(), nullptr);
    EXPECT_GE(delegate->monitor()->fileDescriptor(), 0);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(delegate->isPaused());
    EXPECT_EQ(items->registerCalls, 0);
    EXPECT_EQ(items->unregisterCalls, 0);
}

TEST_F(AppDelegateTest, LoginItemIsRegisteredOnlyWhenWantedAndNotAlreadyEnabled)
{
    store.setBool(prefs::launchAtLogin, true);
    {
        auto delegate = makeDelegate(LoginItemService::Status::notRegistered);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(items->registerCalls, 1);
    }
    {
        auto delegate = makeDelegate(LoginItemService::Status::enabled);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(items->registerCalls, 0);
    }
    {
        auto delegate = makeDelegate(LoginItemService::Status::requiresApproval);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(items->registerCalls, 1);
    }
    store.setBool(prefs::launchAtLogin, false);
    {
        auto delegate = makeDelegate(LoginItemService::Status::enabled);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(items->registerCalls, 0);
        EXPECT_EQ(items->unregisterCalls, 0) << "launch never unregisters";
    }
}

TEST_F(AppDelegateTest, AFailedRegistrationIsSilentAndKeepsThePreference)
{
    store.setBool(prefs::launchAtLogin, true);
    auto delegate = makeDelegate(LoginItemService::Status::notRegistered, QStringLiteral("disk full"));
    testing::internal::CaptureStdout();
    delegate->applicationDidFinishLaunching();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(items->registerCalls, 1);
    EXPECT_EQ(output.find("disk full"), std::string::npos);
    EXPECT_TRUE(store.boolValue(prefs::launchAtLogin));
}

TEST_F(AppDelegateTest, RestartingTheWatchReplacesTheMonitorAndAnnouncesTheState)
{
    auto delegate = makeDelegate(LoginItemService::Status::notRegistered);
    delegate->applicationDidFinishLaunching();
    const int firstDescriptor = delegate->monitor()->fileDescriptor();
    const QDateTime firstStart = delegate->monitorStartedAt();

    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    QThread::msleep(5);
    testing::internal::CaptureStdout();
    delegate->startWatching();
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(changed.count(), 1);
    EXPECT_GT(delegate->monitorStartedAt(), firstStart);
    ASSERT_NE(delegate->monitor(), nullptr);
    EXPECT_GE(delegate->monitor()->fileDescriptor(), 0);
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(firstDescriptor)).exists(),
              delegate->monitor()->fileDescriptor() == firstDescriptor)
        << "the old descriptor is closed unless its number was reused";
    const std::string expected = "📍 Quillary: Watching " +
                                 home.filePath(QStringLiteral("Desktop")).toStdString() + " — access: OK ✅\n";
    EXPECT_NE(output.find(expected), std::string::npos) << output;
}

TEST_F(AppDelegateTest, AFolderThatCannotBeListedIsReportedAsDenied)
{
    // A plain file where the Desktop should be: it cannot be created, listed or watched.
    test::writeFile(home.filePath(QStringLiteral("Desktop")), "not a folder");
    auto delegate = makeDelegate(LoginItemService::Status::notRegistered);
    testing::internal::CaptureStdout();
    delegate->applicationDidFinishLaunching();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
    EXPECT_NE(output.find("❌ Error: Could not open folder for monitoring at "), std::string::npos) << output;
    EXPECT_NE(output.find(" — access: DENIED ❌"), std::string::npos) << output;
}

} // namespace
