#include "clipboard/ClipboardWatcher.h"
#include "core/NotificationCenter.h"
#include "detect/FolderMonitor.h"
#include "detect/WatchController.h"
#include "folders/SavedFolders.h"
#include "support/FakeServices.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

using namespace quillary;

namespace {

using Status = LoginItemService::Status;

class AppDelegateTest : public ::testing::Test, public test::DelegateHarness {};

TEST_F(AppDelegateTest, FirstLaunchWatchesTheHomeDesktopAndRestarts)
{
    auto delegate = makeDelegate();
    EXPECT_TRUE(store.boolValue(prefs::showPopup)) << "creating the delegate registers the defaults";
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), home.filePath("Desktop"));
    ASSERT_NE(delegate->watch().monitor(), nullptr);
    const int firstDescriptor = delegate->watch().monitor()->fileDescriptor();
    EXPECT_EQ(changed.count(), 1);

    // A restart replaces the monitor and announces the state again.
    delegate->startWatching();
    EXPECT_EQ(changed.count(), 2);
    ASSERT_NE(delegate->watch().monitor(), nullptr);
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(firstDescriptor)).exists(),
              delegate->watch().monitor()->fileDescriptor() == firstDescriptor)
        << "the old descriptor is closed unless its number was reused";
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
                          Case{true, Status::notRegistered, 1, "disk full"}}) {
        SCOPED_TRACE(testing::Message() << c.wanted << ' ' << int(c.status) << ' ' << c.failure.has_value());
        store.setBool(prefs::launchAtLogin, c.wanted);
        auto delegate = makeDelegate(c.status, c.failure);
        testing::internal::CaptureStdout();
        delegate->applicationDidFinishLaunching();
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(items->registerCalls, c.registerCalls);
        EXPECT_EQ(items->unregisterCalls, 0) << "launch never unregisters";
        EXPECT_EQ(output.find("disk full"), std::string::npos) << output;
    }
}

TEST_F(AppDelegateTest, APermissionRefusalShowsTheAlertThatOpensTheFolderParent)
{
    auto delegate = makeDelegate();
    interaction->answer = 0; // "Open System Settings"
    delegate->watch().handlePermissionDenied(QUrl::fromLocalFile(home.filePath("Locked")));
    ASSERT_EQ(interaction->alerts.size(), 1);
    const ModalAlert& alert = interaction->alerts.first();
    EXPECT_EQ(QStringList({alert.messageText, alert.informativeText}) + alert.buttons,
              (QStringList{
                  "Permission Required",
                  "Quillary needs access to your Locked folder to monitor for screenshots.\n\nPlease "
                  "ensure Quillary has 'Files and Folders' access in System Settings > Privacy & Security.",
                  "Open System Settings", "Dismiss"}));
    EXPECT_EQ(interaction->openedUrls, QList<QUrl>{QUrl::fromLocalFile(home.path())});
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
}

// The watch and the dispatch together: its own output is never taken for a new screenshot.
TEST_F(AppDelegateTest, AutoMoveIntoTheWatchedFolderItselfRenamesInPlaceOnce)
{
    const FolderConfig here{
        QUuid::createUuid(), "Shots", "Desktop/Shots", "", true, "Screenshot", false, "png"};
    saveFolders(store, {here});
    screenshotFolder = home.filePath("Desktop/Shots");
    store.setText(prefs::selectedFolderID, here.idText());
    store.setBool(prefs::showPopup, false);
    store.setBool(prefs::autoMove, true);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();

    test::writeFile(screenshotFolder + "/Screenshot new.png", test::tinyPng());
    const QString renamed = screenshotFolder + "/Screenshot_001.png";
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(renamed); }));
    delegate->waitForMoves();
    const QDateTime placedAt = QFileInfo(renamed).metadataChangeTime();
    test::processEventsFor(std::chrono::milliseconds(1200));
    delegate->waitForMoves();
    EXPECT_EQ(QDir(screenshotFolder).entryList(QDir::Files), QStringList{"Screenshot_001.png"});
    EXPECT_EQ(QFileInfo(renamed).metadataChangeTime(), placedAt) << "it was not moved on again";
}

TEST_F(AppDelegateTest, AScreenshotFileFoundHoldsTheClipboardOff)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(delegate->clipboard().lastDesktopScreenshotAt().has_value());
    test::writeFile(home.filePath("Desktop/Screenshot 2026-12-07 at 10.00.00.png"), test::tinyPng());
    ASSERT_TRUE(test::waitUntil([&] { return !delegate->screenshotQueue().isEmpty(); }));
    EXPECT_TRUE(delegate->clipboard().lastDesktopScreenshotAt().has_value());
}

} // namespace
