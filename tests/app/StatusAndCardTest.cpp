// The tray menu, the pause switch and the card as the delegate drives them (offscreen).
#include "app/AppDelegate.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "handle/RetroRenamer.h"
#include "support/FakeServices.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"
#include "ui/AppShell.h"
#include "ui/QuickMovePanel.h"
#include "ui/QuickMovePopup.h"
#include "ui/StatusItem.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

using namespace quillary;

namespace {

class StatusAndCardTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void launch()
    {
        screenshotFolder = home.filePath("Shots");
        seedDefaultFolders(store);
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
    }
    void queueScreenshots(int count)
    {
        for (int i = 0; i < count; ++i)
            test::writeFile(screenshotFolder + QStringLiteral("/Screenshot %1.png").arg(i), test::tinyPng());
        ASSERT_TRUE(test::waitUntil([&] { return delegate->screenshotQueue().size() == count; }));
    }
    QuickMovePanel* card() const { return delegate->shell().popupWindow(); }
    QString badgeText() const
    {
        return card() && card()->content() ? card()->content()->findChild<QLabel*>("pendingBadge")->text()
                                           : "";
    }
    StatusItem* status() const { return delegate->shell().statusItem(); }
    void settle() { test::processEventsFor(std::chrono::milliseconds(50)); }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(StatusAndCardTest, TheMenuOffersItsThreeActionsAndFollowsThePauseFlag)
{
    store.setBool(prefs::isPaused, true); // quit while paused
    hasTrayHost = true;
    launch();
    QStringList titles;
    for (QAction* action : status()->menu()->actions())
        if (action->isVisible())
            titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(titles, (QStringList{"Settings...", "Resume Quillary", "—", "Quit"}));

    delegate->togglePauseFromMenu();
    EXPECT_EQ(status()->pauseMenuItem()->text(), "Pause Quillary");
    EXPECT_EQ(StatusItem::toolTipFor(150), "Quillary — 99 pending");
}

TEST_F(StatusAndCardTest, WithoutATrayTheSettingsWindowCarriesTheMenusActions)
{
    launch();
    SettingsWindow* first = delegate->shell().settingsWindow();
    ASSERT_TRUE(first && first->isVisible() && first->showsAppControls());
    EXPECT_TRUE(trayHosts->isWatching) << "a tray that starts later still gets the icon";

    const auto buttons = first->findChildren<QPushButton*>();
    const auto pause =
        std::find_if(buttons.begin(), buttons.end(), [](auto* b) { return b->text() == "Pause Quillary"; });
    ASSERT_NE(pause, buttons.end());
    (*pause)->click();
    EXPECT_TRUE(store.boolValue(prefs::isPaused));
    EXPECT_EQ((*pause)->text(), "Resume Quillary");

    // Reopening a visible window raises it; after a close it is built afresh.
    delegate->showSettingsWindow();
    EXPECT_EQ(delegate->shell().settingsWindow(), first);
    first->close();
    delegate->showSettingsWindow();
    EXPECT_NE(delegate->shell().settingsWindow(), first);
}

TEST_F(StatusAndCardTest, TheCardWalksThroughTheQueueAndClosesAfterTheLast)
{
    launch();
    queueScreenshots(3);
    EXPECT_EQ(badgeText(), "3 pending");
    EXPECT_TRUE(status()->pendingMenuItem()->isVisible());
    delegate->popupMove(delegate->screenshotQueue().first(), loadSavedFolders(store).first().idText());
    EXPECT_EQ(badgeText(), "2 pending");

    // A queued file deleted elsewhere is skipped when the card is next built.
    QFile::remove(delegate->screenshotQueue().at(1).toLocalFile());
    delegate->popupDelete(delegate->screenshotQueue().first());
    settle();
    EXPECT_EQ(card(), nullptr) << "the card closes after the last screenshot";
    EXPECT_FALSE(status()->pendingMenuItem()->isVisible());
}

TEST_F(StatusAndCardTest, PausingEmptiesTheQueueClosesTheCardAndKeepsTheFiles)
{
    launch();
    queueScreenshots(2);
    ASSERT_NE(card(), nullptr);
    const QList<QUrl> queued = delegate->screenshotQueue();
    delegate->togglePauseFromMenu();
    settle();
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
    EXPECT_EQ(card(), nullptr);
    for (const QUrl& file : queued)
        EXPECT_TRUE(QFileInfo::exists(file.toLocalFile()));

    delegate->handleNewScreenshot(queued.first()); // however a screenshot is queued, no card while paused,
    delegate->showPopupForQueueHead(true);         // and resuming shows none by itself
    delegate->togglePauseFromMenu();
    settle();
    EXPECT_EQ(card(), nullptr);
}

TEST_F(StatusAndCardTest, ALeftClickOpensTheCardWhenScreenshotsWaitAndTheMenuOtherwise)
{
    launch();
    delegate->statusItemClicked();
    EXPECT_TRUE(status()->menu()->isVisible());
    status()->menu()->hide();

    queueScreenshots(1);
    delegate->closePopup();
    delegate->statusItemClicked();
    ASSERT_NE(card(), nullptr);
    EXPECT_TRUE(card()->isVisible());
    EXPECT_FALSE(status()->menu()->isVisible());
}

// "Done" in the settings window starts the renames it committed; the run shows its progress in the
// tray's tooltip, then the tooltip is the usual one again.
TEST_F(StatusAndCardTest, DoneRunsTheCommittedRenamesWithProgressInTheTooltip)
{
    hasTrayHost = true;
    FolderConfig work{QUuid::createUuid(), "Work", "Pictures/Work", "folder", true, "Quil", false, "png"};
    saveFolders(store, {work});
    launch();
    const QString dir = configDirectoryURL(work).toLocalFile();
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const char* name : {"a.png", "b.png"})
        test::writeFile(dir + "/" + name, test::tinyPng());

    QStringList tooltips;
    QObject::connect(&delegate->retroRenamer(), &RetroRenamer::activityChanged, status(),
                     [&] { tooltips << status()->trayIcon()->toolTip(); });
    delegate->showSettingsWindow();
    SettingsWindow* window = delegate->shell().settingsWindow();
    ASSERT_NE(window, nullptr);
    QList<FolderConfig> list = delegate->folderStore().folders();
    for (FolderConfig& folder : list) {
        if (folder.id == work.id)
            folder.prefix = "Done";
    }
    delegate->folderStore().save(list);
    window->view()->renameBook().commitRenameChange(work.id, delegate->folderStore().folders());
    window->view()->doneButton()->click();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(test::waitUntil([&] { return tooltips.endsWith("Quillary"); }));
    EXPECT_EQ(tooltips, (QStringList{"Renaming 1 of 2 in Work…", "Renaming 2 of 2 in Work…", "Quillary"}));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"Done_001.png", "Done_002.png"}));
}

} // namespace
