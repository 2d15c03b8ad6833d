#include "core/NotificationCenter.h"
#include "detect/FolderMonitor.h"
#include "detect/WatchController.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
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

TEST_F(AppDelegateTest, APermissionRefusalShowsTheAlertThatOpensTheFolderParent)
{
    auto delegate = makeDelegate();
    interaction->answer = 0; // "Open System Settings"
    delegate->watch().handlePermissionDenied(QUrl::fromLocalFile(home.filePath(QStringLiteral("Locked"))));

    ASSERT_EQ(interaction->alerts.size(), 1);
    const ModalAlert& alert = interaction->alerts.first();
    EXPECT_EQ(alert.messageText, "Permission Required");
    EXPECT_EQ(alert.informativeText, "Quillary needs access to your Locked folder to monitor for "
                                     "screenshots.\n\nPlease ensure Quillary has "
                                     "'Files and Folders' access in System Settings > Privacy & Security.");
    EXPECT_EQ(alert.buttons, (QStringList{"Open System Settings", "Dismiss"}));
    EXPECT_EQ(interaction->openedUrls, QList<QUrl>{QUrl::fromLocalFile(home.path())});
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
}

// The watch and the dispatch together: a folder that is both watched and auto-moved into renames
// each screenshot in place once; its output is never taken for a new screenshot.
TEST_F(AppDelegateTest, AutoMoveIntoTheWatchedFolderItselfRenamesInPlaceOnce)
{
    FolderConfig here = makeCustomFolder(QStringLiteral("Shots"), QStringLiteral("Desktop"));
    here.prefix = QStringLiteral("Screenshot");
    here.includeDate = false;
    saveFolders(store, {here});
    screenshotFolder = configDirectoryURL(here).toLocalFile();
    store.setText(prefs::selectedFolderID, here.idText());
    store.setBool(prefs::showPopup, false);
    store.setBool(prefs::autoMove, true);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();

    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(screenshotFolder + QStringLiteral("/Screenshot new.png")));
    const QString renamed = screenshotFolder + QStringLiteral("/Screenshot_001.png");
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(renamed); }));
    delegate->waitForMoves();
    const QDateTime placedAt = QFileInfo(renamed).metadataChangeTime();
    test::processEventsFor(std::chrono::milliseconds(1200));
    delegate->waitForMoves();
    EXPECT_EQ(QDir(screenshotFolder).entryList(QDir::Files), QStringList{"Screenshot_001.png"});
    EXPECT_EQ(QFileInfo(renamed).metadataChangeTime(), placedAt) << "it was not moved on again";
}

} // namespace
