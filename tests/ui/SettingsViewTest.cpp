#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/SoundsClipboardPage.h"
#include "ui/widgets/ToggleSwitch.h"

#include "core/NotificationCenter.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace quillary;

namespace {

struct FakeHost final : SettingsHost {
    QUrl currentWatchURL() const override { return url; }
    WatchStatus watchStatus() const override { return status; }
    bool isUsingCustomWatchFolder() const override { return custom; }
    void setCustomWatchFolder(const QUrl& folder) override { url = folder; }
    void startWatching() override {}
    void setLaunchAtLogin(bool) override {}
    QString clipboardUnavailableReason() const override { return clipboardReason; }

    QUrl url;
    QString clipboardReason;
    WatchStatus status = WatchStatus::notStarted;
    bool custom = false;
};

class SettingsViewTest : public ::testing::Test, public test::SessionHome {
protected:
    FolderStore folders{store};
    FakeHost host;
    test::FakeInteraction interaction;
};

TEST_F(SettingsViewTest, ANewViewRepairsTheFolderListAndSelection)
{
    store.setText(prefs::selectedFolderID, QUuid::createUuid().toString(QUuid::WithoutBraces));
    SettingsView view(folders, nullptr, nullptr);
    const std::optional<FolderConfig> selected = folders.find(store.textValue(prefs::selectedFolderID));
    ASSERT_TRUE(selected.has_value());
    EXPECT_EQ(selected->name, "Desktop");
    EXPECT_EQ(folders.folders().size(), 4);
}

TEST_F(SettingsViewTest, TheWatchStateIsReadOnOpeningAndOnEveryChange)
{
    SettingsView without(folders, nullptr, nullptr);
    without.show();
    EXPECT_EQ(without.watchFolderPath(), "");
    EXPECT_TRUE(without.watchAccessOK()) << "not started counts as access OK";
    EXPECT_FALSE(without.watchIsCustom());

    host.url = QUrl::fromLocalFile(home.filePath("Desktop"));
    host.status = WatchStatus::active;
    SettingsView view(folders, &host, nullptr);
    view.show();
    EXPECT_EQ(view.watchFolderPath(), home.filePath("Desktop"));

    host.url = QUrl::fromLocalFile(home.filePath("Shots"));
    host.status = WatchStatus::noAccess;
    host.custom = true;
    QSignalSpy refreshed(&view, &SettingsView::watchStateChanged);
    NotificationCenter::defaultCenter().postWatchStateChanged();
    ASSERT_TRUE(refreshed.count() > 0 || refreshed.wait(2000));
    EXPECT_EQ(view.watchFolderPath(), home.filePath("Shots"));
    EXPECT_FALSE(view.watchAccessOK());
    EXPECT_TRUE(view.watchIsCustom());
}

// Return means "Done" wherever the focus is, the focus the window opens with included.
TEST_F(SettingsViewTest, ReturnClosesTheWindowWhereverTheFocusIs)
{
    const std::function<QWidget*(SettingsWindow&)> focusTargets[] = {
        [](SettingsWindow&) -> QWidget* { return nullptr; }, // as opened
        [](SettingsWindow& w) -> QWidget* {
            w.view()->setSelectedTab(SettingsTab::soundsClipboard);
            return static_cast<SoundsClipboardPage*>(w.view()->page(SettingsTab::soundsClipboard))
                ->clipboardSwitch();
        },
        [](SettingsWindow& w) -> QWidget* {
            w.view()->setSelectedTab(SettingsTab::soundsClipboard);
            return static_cast<SoundsClipboardPage*>(w.view()->page(SettingsTab::soundsClipboard))
                ->clipboardFolder();
        },
    };
    int row = 0;
    for (const auto& focusTarget : focusTargets) {
        SettingsWindow window(folders, &host, &interaction, false);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        if (QWidget* target = focusTarget(window))
            target->setFocus();
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr) << row;
        QTest::keyClick(focused, Qt::Key_Return);
        EXPECT_FALSE(window.isVisible())
            << "focus on " << focused->metaObject()->className() << ", row " << row;
        ++row;
    }
}

TEST_F(SettingsViewTest, DoneHandsOverThePendingRenamesAndTheCloseBoxDropsThem)
{
    FolderConfig custom{QUuid::createUuid(), "Shots", "Desktop/Shots", "folder", true, "Quil", false, "png"};
    saveFolders(store, {custom});
    for (const bool viaDone : {true, false}) {
        SettingsWindow window(folders, &host, &interaction, false);
        QSignalSpy renames(&window, &SettingsWindow::renamesRequested);
        window.show();
        QList<FolderConfig> list = folders.folders();
        for (FolderConfig& folder : list) {
            if (folder.id == custom.id)
                folder.prefix = "Trip";
        }
        folders.save(list);
        window.view()->renameBook().commitRenameChange(custom.id, folders.folders());
        if (viaDone)
            window.view()->doneButton()->click();
        else
            window.close();
        EXPECT_FALSE(window.isVisible());
        ASSERT_EQ(renames.count(), viaDone ? 1 : 0);
        if (viaDone) {
            const auto jobs = renames.first().at(0).value<QList<RetroRenameJob>>();
            ASSERT_EQ(jobs.size(), 1);
            EXPECT_EQ(jobs.first().folderID, custom.id);
            EXPECT_EQ(jobs.first().prefix, "Trip");
        }
        saveFolders(store, {custom});
    }
}

TEST_F(SettingsViewTest, TheClipboardRowStoresAndFollowsItsPreferences)
{
    SettingsView view(folders, &host, &interaction);
    auto* page = static_cast<SoundsClipboardPage*>(view.page(SettingsTab::soundsClipboard));
    QComboBox* picker = page->clipboardFolder();
    EXPECT_FALSE(picker->isEnabled()) << "saving is off by default";

    page->clipboardSwitch()->click();
    EXPECT_TRUE(store.boolValue(prefs::isClipboardSyncEnabled));
    EXPECT_TRUE(picker->isEnabled());
    picker->setCurrentIndex(picker->findText("Pictures"));
    emit picker->activated(picker->currentIndex());
    EXPECT_EQ(store.textValue(prefs::clipboardSyncFolder), "Pictures");

    // Changes made elsewhere show at once.
    store.setText(prefs::clipboardSyncFolder, "Elsewhere");
    EXPECT_EQ(picker->currentIndex(), -1) << "a name that is none of the four selects nothing";
    store.setBool(prefs::isClipboardSyncEnabled, false);
    EXPECT_FALSE(page->clipboardSwitch()->isChecked());
    EXPECT_FALSE(picker->isEnabled());
    store.setBool(prefs::popupSoundEnabled, true);
    EXPECT_TRUE(page->popupSoundSwitch()->isChecked());
}

TEST_F(SettingsViewTest, TheClipboardRowSaysWhenTheSessionsClipboardCannotBeRead)
{
    for (const QString& reason : {QString(), QStringLiteral("Clipboard saving needs X11 or XWayland")}) {
        host.clipboardReason = reason;
        SettingsView view(folders, &host, &interaction);
        auto* page = static_cast<SoundsClipboardPage*>(view.page(SettingsTab::soundsClipboard));
        EXPECT_EQ(page->clipboardNote() != nullptr, !reason.isEmpty());
        if (page->clipboardNote()) {
            EXPECT_TRUE(page->clipboardNote()->text().contains(reason));
        }
    }
}

} // namespace
