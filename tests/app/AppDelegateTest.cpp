// The command line, the delegate's wiring, and the tray menu, the pause switch and the card as the
// delegate drives them (offscreen).
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "clipboard/ClipboardWatcher.h"
#include "detect/WatchController.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "handle/RetroRenamer.h"
#include "platform/DisplayPlatform.h"
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
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>

using namespace quillary;

namespace {

using Status = LoginItemService::Status;

class AppDelegateTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void start()
    {
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
    }
    void launch()
    {
        screenshotFolder = home.filePath("Shots");
        seedDefaultFolders(store);
        start();
    }
    void queueScreenshots(int count)
    {
        for (int i = 0; i < count; ++i)
            test::writeFile(screenshotFolder + QStringLiteral("/Screenshot %1.png").arg(i), test::tinyPng());
        ASSERT_TRUE(test::waitUntil([&] { return delegate->screenshotQueue().size() == count; }));
    }
    QuickMovePanel* card() const { return delegate->shell().popupWindow(); }
    QString badgeText() const { return card()->content()->findChild<QLabel*>("pendingBadge")->text(); }
    StatusItem* status() const { return delegate->shell().statusItem(); }
    void settle() { test::processEventsFor(std::chrono::milliseconds(50)); }

    std::unique_ptr<AppDelegate> delegate;
};

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
        auto launched = makeDelegate(c.status, c.failure);
        testing::internal::CaptureStdout();
        launched->applicationDidFinishLaunching();
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(items->registerCalls, c.registerCalls);
        EXPECT_EQ(items->unregisterCalls, 0) << "launch never unregisters";
        EXPECT_EQ(output.find("disk full"), std::string::npos) << output;
    }
}

TEST_F(AppDelegateTest, APermissionRefusalShowsTheAlertThatOpensTheFolderParent)
{
    delegate = makeDelegate();
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

// Its own output is never taken for a new screenshot (this passed by luck once, so the ctime is checked).
TEST_F(AppDelegateTest, AutoMoveIntoTheWatchedFolderItselfRenamesInPlaceOnce)
{
    const FolderConfig here{
        QUuid::createUuid(), "Shots", "Desktop/Shots", "", true, "Screenshot", false, "png"};
    saveFolders(store, {here});
    screenshotFolder = home.filePath("Desktop/Shots");
    store.setText(prefs::selectedFolderID, here.idText());
    store.setBool(prefs::showPopup, false);
    store.setBool(prefs::autoMove, true);
    start();

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
    start();
    EXPECT_FALSE(delegate->clipboard().lastDesktopScreenshotAt().has_value());
    test::writeFile(home.filePath("Desktop/Screenshot 2026-12-07 at 10.00.00.png"), test::tinyPng());
    ASSERT_TRUE(test::waitUntil([&] { return !delegate->screenshotQueue().isEmpty(); }));
    EXPECT_TRUE(delegate->clipboard().lastDesktopScreenshotAt().has_value());
}

// Pausing forgets the queue and closes the card but keeps the files (x11-popup-flow.sh: no card while
// paused).
TEST_F(AppDelegateTest, TheMenuFollowsThePauseFlagAndPausingEmptiesTheQueue)
{
    store.setBool(prefs::isPaused, true); // quit while paused
    hasTrayHost = true;
    launch();
    QStringList titles;
    for (QAction* action : status()->menu()->actions())
        if (action->isVisible())
            titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(titles, (QStringList{"Settings...", "Resume Quillary", "—", "Quit"}));
    EXPECT_EQ(StatusItem::toolTipFor(150), "Quillary — 99 pending");

    delegate->togglePauseFromMenu();
    EXPECT_EQ(status()->pauseMenuItem()->text(), "Pause Quillary");
    queueScreenshots(2);
    const QList<QUrl> queued = delegate->screenshotQueue();
    delegate->togglePauseFromMenu();
    settle();
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
    EXPECT_EQ(card(), nullptr);
    for (const QUrl& file : queued)
        EXPECT_TRUE(QFileInfo::exists(file.toLocalFile()));
}

TEST_F(AppDelegateTest, WithoutATrayTheSettingsWindowCarriesTheMenusActions)
{
    launch();
    SettingsWindow* first = delegate->shell().settingsWindow();
    ASSERT_TRUE(first && first->isVisible() && first->showsAppControls());
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

TEST_F(AppDelegateTest, TheCardCountsThePendingAndSkipsFilesDeletedElsewhere)
{
    launch();
    queueScreenshots(3);
    EXPECT_EQ(badgeText(), "3 pending");
    EXPECT_TRUE(status()->pendingMenuItem()->isVisible());
    delegate->popupMove(delegate->screenshotQueue().first(), loadSavedFolders(store).first().idText());
    EXPECT_EQ(badgeText(), "2 pending");
    QFile::remove(delegate->screenshotQueue().at(1).toLocalFile());
    delegate->popupDelete(delegate->screenshotQueue().first());
    settle();
    EXPECT_EQ(card(), nullptr);
    EXPECT_FALSE(status()->pendingMenuItem()->isVisible());
}

// "Done" in the settings window starts the renames it committed, with their progress in the tooltip;
// the close box drops them.
TEST_F(AppDelegateTest, DoneRunsTheCommittedRenamesWithProgressInTheTooltip)
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
    delegate->shell().settingsWindow()->view()->renameBook().commitRenameChange(work.id, {work});
    delegate->shell().settingsWindow()->close();
    delegate->retroRenamer().waitForDone();
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"a.png", "b.png"}));

    delegate->showSettingsWindow();
    SettingsWindow* window = delegate->shell().settingsWindow();
    work.prefix = "Done";
    delegate->folderStore().save({work});
    window->view()->renameBook().commitRenameChange(work.id, delegate->folderStore().folders());
    window->view()->doneButton()->click();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(test::waitUntil([&] { return tooltips.endsWith("Quillary"); }));
    EXPECT_EQ(tooltips, (QStringList{"Renaming 1 of 2 in Work…", "Renaming 2 of 2 in Work…", "Quillary"}));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"Done_001.png", "Done_002.png"}));
}

// The last verb counts; what Qt or the session manager pass, with their values, is Qt's to handle;
// anything else is warned about and ignored.
TEST(CommandLineTest, EachArgumentIsAVerbAQtOptionOrWarnedAbout)
{
    const struct {
        QStringList arguments;
        RemoteCommand command;
        QStringList warnings;
    } cases[] = {
        {{}, RemoteCommand::show, {}},
        {{"--show-pending"}, RemoteCommand::showPending, {}},
        {{"--quit"}, RemoteCommand::quit, {}},
        {{"--pause", "--resume"}, RemoteCommand::resume, {}},
        {{"-session", "1a2b3c", "-name", "quillary", "--settings"}, RemoteCommand::settings, {}},
        {{"-platform", "offscreen", "-style=fusion", "--display", ":1", "-reverse"}, RemoteCommand::show, {}},
        {{"--verbose", "-x", "--pause", "somefile.png"},
         RemoteCommand::pause,
         {"unrecognized option '--verbose'", "unrecognized option '-x'",
          "unexpected argument 'somefile.png'"}},
        {{"--show", "-settings"},
         RemoteCommand::show,
         {"unrecognized option '--show'", "unrecognized option '-settings'"}}};
    for (const auto& [arguments, command, warnings] : cases) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const auto action = parseCommandLine(QStringList{"/usr/bin/quillary"} + arguments);
        EXPECT_EQ(action.kind, CommandLineAction::Kind::run);
        EXPECT_EQ(action.command, command);
        EXPECT_TRUE(action.output.isEmpty());
        QString expected;
        for (const QString& warning : warnings)
            expected += "quillary: ignoring " + warning + " (try 'quillary --help')\n";
        EXPECT_EQ(action.error, expected);
    }
}

TEST(CommandLineTest, HelpOrVersionIsPrintedInsteadOfRunning)
{
    for (const char* flag : {"--help", "-h", "--version", "-V"}) {
        SCOPED_TRACE(flag);
        const auto action = parseCommandLine({"quillary", "--bogus", QString::fromLatin1(flag)});
        EXPECT_EQ(action.kind, CommandLineAction::Kind::printAndExit);
        EXPECT_EQ(action.exitCode, 0);
        EXPECT_TRUE(action.error.isEmpty());
        const QRegularExpression expected(std::strchr(flag, 'h')
                                              ? "^Usage: quillary .*--settings.*--show-pending.*"
                                                "--pause.*--resume.*--quit.*--version"
                                              : "^quillary \\d+\\.\\d+\\.\\d+\n$",
                                          QRegularExpression::DotMatchesEverythingOption);
        EXPECT_TRUE(action.output.contains(expected)) << action.output.toStdString();
    }
}

TEST(CommandLineTest, WindowsGoWhereTheyCanPlaceThemselves)
{
    const struct {
        DisplayEnvironment env;
        QString platform;
        QString says;
    } cases[] = {
        {{"wayland", ":0", "wayland-1"}, "", "as QT_QPA_PLATFORM asks"},
        {{"", ":0", "wayland-1"}, "xcb", "through XWayland"},
        {{"", "", "wayland-1"}, "wayland", "without XWayland"},
        {{"", ":0", ""}, "xcb", "X11 session"},
        {{"", "", ""}, "offscreen", "No display server"},
    };
    for (const auto& c : cases) {
        const DisplayPlatformChoice choice = chooseDisplayPlatform(c.env);
        EXPECT_EQ(choice.platform, c.platform) << c.says.toStdString();
        EXPECT_TRUE(choice.line.contains(c.says)) << choice.line.toStdString();
        EXPECT_TRUE(
            choice.line.startsWith(c.platform == "offscreen" ? u"⚠️ Quillary: " : u"📍 Quillary: "));
    }
}

TEST(CommandLineTest, GnomeWithoutATrayIsToldWhichExtensionBringsOne)
{
    for (const QString desktop : {"ubuntu:GNOME", "GNOME-Flashback:GNOME", "KDE", "GNOMEISH", ""})
        EXPECT_TRUE(desktop.endsWith(":GNOME") ? trayAdviceFor(desktop).contains("AppIndicator")
                                               : trayAdviceFor(desktop).isEmpty())
            << qPrintable(desktop);
}

} // namespace
