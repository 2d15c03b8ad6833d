#include "ui/settings/GeneralPage.h"
#include "core/NotificationCenter.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsView.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SettingsRow.h"
#include "ui/widgets/ToggleSwitch.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace quillary {
namespace {

class FakeHost final : public SettingsHost {
public:
    QUrl currentWatchURL() const override { return url; }
    WatchStatus watchStatus() const override { return status; }
    bool isUsingCustomWatchFolder() const override { return custom; }
    void setCustomWatchFolder(const QUrl& folder) override { customFolders.append(folder); }
    void startWatching() override { ++startWatchingCalls; }
    void setLaunchAtLogin(bool enabled) override { launchAtLoginCalls.append(enabled); }

    QUrl url;
    WatchStatus status = WatchStatus::notStarted;
    bool custom = false;
    QList<QUrl> customFolders;
    int startWatchingCalls = 0;
    QList<bool> launchAtLoginCalls;
};

void choose(SegmentedControl* control, const QString& label)
{
    for (QAbstractButton* segment : control->findChildren<QAbstractButton*>())
        if (segment->text() == label)
            return segment->click();
    FAIL() << "no segment " << label.toStdString();
}

// 1.0 unless the widget is drawn through an opacity effect.
qreal opacity(QWidget* widget)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

class GeneralPageTest : public ::testing::Test, public test::SessionHome {
protected:
    GeneralPageTest() { registerDefaultSettings(store); }
    GeneralPage* open(SettingsHost* withHost)
    {
        view = std::make_unique<SettingsView>(folders, withHost, &interaction);
        return qobject_cast<GeneralPage*>(view->page(SettingsTab::general));
    }
    void watchChanges(const QUrl& url, WatchStatus status, bool custom)
    {
        host.url = url;
        host.status = status;
        host.custom = custom;
        NotificationCenter::defaultCenter().postWatchStateChanged();
    }

    FolderStore folders{store};
    FakeHost host;
    test::FakeInteraction interaction;
    std::unique_ptr<SettingsView> view;
};

TEST_F(GeneralPageTest, HandlingModeReadsAndWritesTheTwoSwitches)
{
    const QString toDesktop =
        QStringLiteral("Move automatically to \"Desktop\" — pick the folder in the Folders tab");
    const struct {
        bool showPopup, autoMove;
        QString shown, chosen;
        bool storedPopup, storedAuto;
        QString subtitle;
    } cases[] = {
        {true, true, "popup", "Auto-move", false, true, toDesktop},
        {false, true, "auto", "Off", false, false,
         "Do nothing — screenshots stay where your screenshot tool saves them"},
        {false, false, "off", "Popup", true, false, "Popup asks where to move each screenshot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen.toStdString());
        store.setBool(prefs::showPopup, c.showPopup);
        store.setBool(prefs::autoMove, c.autoMove);
        GeneralPage* page = open(&host);
        EXPECT_EQ(page->handlingControl()->value(), c.shown);
        choose(page->handlingControl(), c.chosen);
        EXPECT_EQ(store.boolValue(prefs::showPopup), c.storedPopup);
        EXPECT_EQ(store.boolValue(prefs::autoMove), c.storedAuto);
        EXPECT_EQ(page->handlingRow()->subtitle(), c.subtitle);
        EXPECT_EQ(page->thumbnailRow()->isEnabled(), c.storedAuto);
        EXPECT_EQ(opacity(page->thumbnailRow()), c.storedAuto ? 1.0 : 0.45);
    }
}

TEST_F(GeneralPageTest, ThumbnailDurationIsClampedAndNonNumbersAreNotStored)
{
    const struct {
        QString typed;
        double stored;
        QString shown;
    } cases[] = {{"3", 5.0, "5"}, {"25", 19.0, "19"}, {"12", 12.0, "12"}, {"abc", 7.0, "7"}};
    store.setBool(prefs::autoMove, true);
    QLineEdit* field = open(&host)->thumbnailField();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        store.setDouble(prefs::thumbnailDuration, 7.0);
        field->setText(c.typed);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(store.doubleValue(prefs::thumbnailDuration), c.stored);
        EXPECT_EQ(field->text(), c.shown);
    }
}

TEST_F(GeneralPageTest, WatchedFolderRowFollowsTheWatchState)
{
    const QString homePath = QDir::homePath();
    const QString auto_ = QStringLiteral("Auto-detected from your screenshot tool's settings");
    const struct {
        QString path;
        WatchStatus status;
        bool custom;
        QString title, subtitle, icon;
    } cases[] = {
        {homePath + "/Pictures/Shots", WatchStatus::active, true, "~/Pictures/Shots",
         "New screenshots in this folder are detected", "folder.badge.gearshape"},
        {{}, WatchStatus::notStarted, false, "Detecting screenshot folder…", auto_, "folder.badge.gearshape"},
        {homePath + "/Desktop", WatchStatus::noAccess, true, "~/Desktop",
         "No permission — click Change… and re-select this folder to grant access",
         "exclamationmark.triangle.fill"},
        {homePath + "-other/Desktop", WatchStatus::active, false, homePath + "-other/Desktop", auto_,
         "folder.badge.gearshape"},
    };
    GeneralPage* page = open(&host);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        watchChanges(c.path.isEmpty() ? QUrl() : QUrl::fromLocalFile(c.path), c.status, c.custom);
        EXPECT_EQ(page->watchedFolderRow()->title(), c.title);
        EXPECT_EQ(page->watchedFolderRow()->subtitle(), c.subtitle);
        EXPECT_EQ(page->watchedFolderRow()->iconName(), c.icon);
        EXPECT_EQ(!page->autoDetectButton()->isHidden(), c.custom);
    }
}

TEST_F(GeneralPageTest, ChangeWatchesAChosenFolderAndAutoDetectNeedsAHost)
{
    store.setData(prefs::folderBookmark, "bookmark");
    open(nullptr)->autoDetectButton()->click();
    EXPECT_TRUE(store.dataValue(prefs::folderBookmark).has_value());

    GeneralPage* page = open(&host);
    page->changeButton()->click(); // cancelled
    interaction.chosenFolder = QUrl::fromLocalFile("/srv/shots");
    page->changeButton()->click();
    EXPECT_EQ(host.customFolders, QList<QUrl>{*interaction.chosenFolder});
    const QStringList texts{"Choose the folder where your screenshot tool saves screenshots (often "
                            "Pictures/Screenshots or Desktop).",
                            "Watch This Folder"};
    EXPECT_EQ(interaction.folderChoosers, (QList<QStringList>{texts, texts}));

    watchChanges(*interaction.chosenFolder, WatchStatus::active, true);
    page->autoDetectButton()->click();
    EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());
    EXPECT_EQ(host.startWatchingCalls, 1);
}

TEST_F(GeneralPageTest, LaunchAtLoginTellsTheHostOnlyOfTheUsersChange)
{
    ToggleSwitch* toggle = open(&host)->launchAtLoginSwitch();
    toggle->click();
    EXPECT_TRUE(store.boolValue(prefs::launchAtLogin));
    store.setBool(prefs::launchAtLogin, false);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(host.launchAtLoginCalls, QList<bool>{true});
}

TEST_F(GeneralPageTest, ControlsFollowChangesMadeElsewhere)
{
    GeneralPage* page = open(&host);
    store.setBool(prefs::showPopup, false);
    store.setBool(prefs::autoMove, true);
    EXPECT_EQ(page->handlingControl()->value(), "auto");
    EXPECT_TRUE(page->thumbnailRow()->isEnabled());

    const FolderConfig work = makeCustomFolder("Work", "Desktop");
    folders.save(folders.folders() + QList<FolderConfig>{work});
    store.setText(prefs::selectedFolderID, work.idText());
    EXPECT_TRUE(page->handlingRow()->subtitle().startsWith("Move automatically to \"Work\""));
    store.setText(prefs::selectedFolderID, "no such folder");
    EXPECT_TRUE(page->handlingRow()->subtitle().startsWith("Move automatically to \"Desktop\""));

    store.setBool(prefs::quickCreateEnabled, false);
    EXPECT_FALSE(page->quickCreateRow()->isEnabled());
    EXPECT_EQ(opacity(page->quickCreateRow()), 0.45);

    EXPECT_TRUE(page->renameOptions()->isHidden());
    store.setBool(prefs::isGlobalRenamingEnabled, true);
    EXPECT_FALSE(page->renameOptions()->isHidden());
    EXPECT_EQ(page->globalRenameRow()->subtitle(), "Overrides per-folder rename rules");
}

TEST_F(GeneralPageTest, SwitchesDrawTheStoredState)
{
    store.setBool(prefs::isGlobalRenamingEnabled, true);
    ToggleSwitch* toggle = open(&host)->globalRenameSwitch();
    const QImage on = toggle->grab().toImage();
    store.setBool(prefs::isGlobalRenamingEnabled, false);
    EXPECT_NE(toggle->grab().toImage(), on);
}

TEST_F(GeneralPageTest, LongTextsStayInsideThePage)
{
    store.setBool(prefs::showPopup, false); // the longest handling subtitle, which wraps
    store.setBool(prefs::autoMove, true);
    host.url = QUrl::fromLocalFile("/media/" + QString(200, 'x'));
    host.custom = true; // with "Auto-Detect" beside it, this subtitle wraps too
    GeneralPage* page = open(&host);
    view->show();
    for (int pass = 0; pass < 3; ++pass) // the title, then the page, then the scroll area lay out again
        QCoreApplication::processEvents();
    EXPECT_LE(page->width(), view->width() - 180);
    EXPECT_GE(page->handlingRow()->height(),
              page->handlingRow()->heightForWidth(page->handlingRow()->width()));
}

} // namespace
} // namespace quillary
