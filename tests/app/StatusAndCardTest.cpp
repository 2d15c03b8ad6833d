// The tray menu, the pause switch and the card as the delegate drives them (offscreen).
#include "app/AppDelegate.h"
#include "folders/SavedFolders.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"
#include "ui/AppShell.h"
#include "ui/QuickMovePanel.h"
#include "ui/QuickMovePopup.h"
#include "ui/StatusItem.h"
#include "ui/settings/SettingsWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

class StatusAndCardTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void launch()
    {
        screenshotFolder = home.filePath(QStringLiteral("Shots"));
        seedDefaultFolders(store);
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
    }
    void queueScreenshots(int count)
    {
        QImage image(64, 40, QImage::Format_RGB32);
        image.fill(Qt::darkBlue);
        for (int i = 0; i < count; ++i)
            image.save(screenshotFolder + QStringLiteral("/Screenshot %1.png").arg(i), "PNG");
        ASSERT_TRUE(test::waitUntil([&] { return delegate->screenshotQueue().size() == count; }));
    }
    QString badgeText() const
    {
        if (!delegate->shell().popupWindow() || !delegate->shell().popupWindow()->isVisible())
            return {};
        QuickMovePopup* card = delegate->shell().popupWindow()->content();
        auto* badge = card ? card->findChild<QLabel*>(QStringLiteral("pendingBadge")) : nullptr;
        return badge ? badge->text() : QString();
    }
    void settle() { test::processEventsFor(50ms); }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(StatusAndCardTest, TheMenuOffersItsThreeActionsAndFollowsThePauseFlag)
{
    store.setBool(prefs::isPaused, true); // quit while paused
    hasTrayHost = true;
    launch();
    QMenu* menu = delegate->shell().statusItem()->menu();
    QStringList titles;
    for (QAction* action : menu->actions())
        if (action->isVisible())
            titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(titles, (QStringList{"Settings...", "Resume Quillary", "—", "Quit"}));
    EXPECT_EQ(menu->actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));

    delegate->togglePauseFromMenu();
    EXPECT_FALSE(store.boolValue(prefs::isPaused));
    EXPECT_EQ(delegate->shell().statusItem()->pauseMenuItem()->text(), "Pause Quillary");
    delegate->togglePauseFromMenu();
    EXPECT_EQ(delegate->shell().statusItem()->pauseMenuItem()->text(), "Resume Quillary");
    EXPECT_EQ(StatusItem::toolTipFor(150), "Quillary — 99 pending");
}

TEST_F(StatusAndCardTest, WithoutATrayTheSettingsWindowCarriesTheMenusActions)
{
    testing::internal::CaptureStdout();
    launch();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("⚠️ Quillary: No system tray found"), std::string::npos) << output;
    ASSERT_NE(delegate->shell().settingsWindow(), nullptr);
    EXPECT_TRUE(delegate->shell().settingsWindow()->isVisible());
    EXPECT_TRUE(delegate->shell().settingsWindow()->showsAppControls());
    EXPECT_TRUE(trayHosts->isWatching) << "a tray that starts later still gets the icon";

    auto buttons = delegate->shell().settingsWindow()->findChildren<QPushButton*>();
    auto pause =
        std::find_if(buttons.begin(), buttons.end(), [](auto* b) { return b->text() == "Pause Quillary"; });
    ASSERT_NE(pause, buttons.end());
    (*pause)->click();
    EXPECT_TRUE(store.boolValue(prefs::isPaused));
    EXPECT_EQ((*pause)->text(), "Resume Quillary");

    // Reopening a visible window raises it; after a close it is built afresh.
    SettingsWindow* first = delegate->shell().settingsWindow();
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
    EXPECT_TRUE(delegate->shell().statusItem()->pendingMenuItem()->isVisible());

    const QString desktopID = loadSavedFolders(store).first().idText();
    delegate->popupMove(delegate->screenshotQueue().first(), desktopID);
    EXPECT_EQ(badgeText(), "2 pending");

    // A queued file deleted elsewhere is skipped when the card is next built.
    QFile::remove(delegate->screenshotQueue().at(1).toLocalFile());
    delegate->popupDelete(delegate->screenshotQueue().first());
    settle();
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
    EXPECT_EQ(delegate->shell().popupWindow(), nullptr) << "the card closes after the last screenshot";
    EXPECT_FALSE(delegate->shell().statusItem()->pendingMenuItem()->isVisible());
}

TEST_F(StatusAndCardTest, PausingEmptiesTheQueueClosesTheCardAndKeepsTheFiles)
{
    launch();
    queueScreenshots(2);
    ASSERT_NE(delegate->shell().popupWindow(), nullptr);
    const QList<QUrl> queued = delegate->screenshotQueue();
    delegate->togglePauseFromMenu();
    settle();
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
    EXPECT_EQ(delegate->shell().popupWindow(), nullptr);
    for (const QUrl& file : queued)
        EXPECT_TRUE(QFileInfo::exists(file.toLocalFile()));

    delegate->showPopupForQueueHead(true); // nothing while paused, and resuming brings nothing back
    delegate->togglePauseFromMenu();
    settle();
    EXPECT_EQ(delegate->shell().popupWindow(), nullptr);
}

TEST_F(StatusAndCardTest, ALeftClickOpensTheCardWhenScreenshotsWaitAndTheMenuOtherwise)
{
    launch();
    delegate->statusItemClicked();
    EXPECT_TRUE(delegate->shell().statusItem()->menu()->isVisible());
    delegate->shell().statusItem()->menu()->hide();

    queueScreenshots(1);
    delegate->closePopup();
    delegate->statusItemClicked();
    ASSERT_NE(delegate->shell().popupWindow(), nullptr);
    EXPECT_TRUE(delegate->shell().popupWindow()->isVisible());
    EXPECT_FALSE(delegate->shell().statusItem()->menu()->isVisible());
}

} // namespace
