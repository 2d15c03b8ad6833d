// The settings window: its General, Sounds & Clipboard and Folders pages and how it closes.
#include "ui/settings/FolderRow.h"
#include "ui/settings/FoldersPage.h"
#include "ui/settings/GeneralPage.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/SoundsClipboardPage.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SettingsRow.h"
#include "ui/widgets/ToggleSwitch.h"

#include "core/FileNames.h"
#include "core/NotificationCenter.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"

#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

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
    QString clipboardUnavailableReason() const override { return clipboardReason; }

    QUrl url;
    WatchStatus status = WatchStatus::notStarted;
    bool custom = false;
    QList<QUrl> customFolders;
    int startWatchingCalls = 0;
    QList<bool> launchAtLoginCalls;
    QString clipboardReason;
};

void choose(SegmentedControl* control, const QString& label)
{
    for (QAbstractButton* segment : control->findChildren<QAbstractButton*>())
        if (segment->text() == label)
            return segment->click();
    FAIL() << "no segment " << label.toStdString();
}

class GeneralPageTest : public ::testing::Test, public test::SessionHome {
protected:
    GeneralPageTest() { registerDefaultSettings(store); }
    GeneralPage* open(SettingsHost* withHost)
    {
        view = std::make_unique<SettingsView>(folders, withHost, &interaction);
        return qobject_cast<GeneralPage*>(view->page(SettingsTab::general));
    }
    SoundsClipboardPage* soundsPage()
    {
        view = std::make_unique<SettingsView>(folders, &host, &interaction);
        return static_cast<SoundsClipboardPage*>(view->page(SettingsTab::soundsClipboard));
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
        QString title, subtitle;
    } cases[] = {
        {homePath + "/Pictures/Shots", WatchStatus::active, true, "~/Pictures/Shots",
         "New screenshots in this folder are detected"},
        {{}, WatchStatus::notStarted, false, "Detecting screenshot folder…", auto_},
        {homePath + "/Desktop", WatchStatus::noAccess, true, "~/Desktop",
         "No permission — click Change… and re-select this folder to grant access"},
        {homePath + "-other/Desktop", WatchStatus::active, false, homePath + "-other/Desktop", auto_},
    };
    GeneralPage* page = nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        watchChanges(c.path.isEmpty() ? QUrl() : QUrl::fromLocalFile(c.path), c.status, c.custom);
        if (!page) { // the first state is read on opening, the others as they change
            page = open(&host);
            view->show();
        }
        EXPECT_EQ(page->watchedFolderRow()->title(), c.title);
        EXPECT_EQ(page->watchedFolderRow()->subtitle(), c.subtitle);
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

TEST_F(GeneralPageTest, ControlsFollowChangesMadeElsewhere)
{
    GeneralPage* page = open(&host);
    page->launchAtLoginSwitch()->click();
    EXPECT_TRUE(store.boolValue(prefs::launchAtLogin));
    store.setBool(prefs::launchAtLogin, false);
    EXPECT_FALSE(page->launchAtLoginSwitch()->isChecked());
    EXPECT_EQ(host.launchAtLoginCalls, QList<bool>{true}) << "the host hears only of the user's change";

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

    EXPECT_TRUE(page->renameOptions()->isHidden());
    store.setBool(prefs::isGlobalRenamingEnabled, true);
    EXPECT_FALSE(page->renameOptions()->isHidden());
    EXPECT_EQ(page->globalRenameRow()->subtitle(), "Overrides per-folder rename rules");
}

using SettingsViewTest = GeneralPageTest;

TEST_F(SettingsViewTest, ANewViewRepairsTheFolderListAndSelection)
{
    store.setText(prefs::selectedFolderID, QUuid::createUuid().toString(QUuid::WithoutBraces));
    open(nullptr);
    const std::optional<FolderConfig> selected = folders.find(store.textValue(prefs::selectedFolderID));
    ASSERT_TRUE(selected.has_value());
    EXPECT_EQ(selected->name, "Desktop");
    EXPECT_EQ(folders.folders().size(), 4);
}

// Return means "Done" wherever the focus is, the focus the window opens with included.
TEST_F(SettingsViewTest, ReturnClosesTheWindowWhereverTheFocusIs)
{
    const std::function<QWidget*(SoundsClipboardPage*)> targets[] = {
        nullptr, [](auto* page) -> QWidget* { return page->clipboardSwitch(); },
        [](auto* page) -> QWidget* { return page->clipboardFolder(); }};
    for (const auto& target : targets) {
        SettingsWindow window(folders, &host, &interaction, false);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        if (target) {
            window.view()->setSelectedTab(SettingsTab::soundsClipboard);
            target(static_cast<SoundsClipboardPage*>(window.view()->page(SettingsTab::soundsClipboard)))
                ->setFocus();
        }
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, Qt::Key_Return);
        EXPECT_FALSE(window.isVisible()) << "focus on " << focused->metaObject()->className();
    }
}

TEST_F(SettingsViewTest, TheClipboardRowStoresAndFollowsItsPreferences)
{
    EXPECT_EQ(soundsPage()->clipboardNote(), nullptr);
    host.clipboardReason = "Clipboard saving needs X11 or XWayland";
    SoundsClipboardPage* page = soundsPage();
    ASSERT_NE(page->clipboardNote(), nullptr);
    EXPECT_TRUE(page->clipboardNote()->text().contains(host.clipboardReason));

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
}

class FoldersPageTest : public GeneralPageTest {
protected:
    // Opens the window on the Folders page, with `custom` as custom folders on the Desktop.
    void open(const QStringList& custom = {}, const QString& tab = "Default")
    {
        QList<FolderConfig> list;
        for (const QString& name : custom)
            list.append(makeCustomFolder(name, "Desktop"));
        saveFolders(store, list);
        store.setText(prefs::activeTab, tab);
        view = std::make_unique<SettingsView>(folders, &host, &interaction);
        view->setSelectedTab(SettingsTab::folders);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        page = static_cast<FoldersPage*>(view->page(SettingsTab::folders));
    }
    FolderRow* row(const QString& name) const
    {
        for (FolderRow* shown : page->rows())
            if (shown->folder().name == name)
                return shown;
        return nullptr;
    }
    FolderConfig stored(const QString& name) const
    {
        for (const FolderConfig& folder : folders.folders())
            if (folder.name == name)
                return folder;
        return {};
    }
    void select(const QString& name) { QTest::mouseClick(row(name)->selectButton(), Qt::LeftButton); }
    QString desktop(const QString& name = {}) const { return QDir(home.filePath("Desktop")).filePath(name); }
    QString trashed(const QString& name) const { return home.filePath(".local/share/Trash/files/" + name); }

    FoldersPage* page = nullptr;
};

// A list far longer than anyone keeps by hand shows 200 rows and a line saying how many are left out.
TEST_F(FoldersPageTest, ALongListShowsTwoHundredRowsAndHowManyAreLeftOut)
{
    QStringList names;
    for (int i = 0; i < 1000; ++i)
        names << QString::number(i);
    open(names, "Created");
    ASSERT_EQ(page->rows().size(), 200);
    EXPECT_EQ(page->rows().last()->folder().name, "199");
    const QLabel* more = page->findChild<QLabel*>("moreFolders");
    ASSERT_NE(more, nullptr);
    EXPECT_TRUE(more->isVisible());
    EXPECT_EQ(more->text(), "800 more folders not shown");
}

TEST_F(FoldersPageTest, ClickedRowBecomesTheAutoMoveDestinationAndTheOffModeDisablesThePage)
{
    open({}, "unknown");
    QStringList names;
    for (FolderRow* shown : page->rows())
        names.append(shown->folder().name);
    EXPECT_EQ(names, standardFolderNames()); // an unknown stored tab reads as the standard list
    EXPECT_FALSE(page->addButton()->isVisible());
    for (const QString name : {"Documents", "Documents", "Pictures"}) {
        select(name);
        EXPECT_EQ(store.textValue(prefs::selectedFolderID), stored(name).idText());
        for (FolderRow* shown : page->rows())
            EXPECT_EQ(shown->selectButton()->isChecked(), shown->folder().name == name) << qPrintable(name);
    }

    for (const auto& [autoMove, showPopup] : {std::pair{true, false}, {false, false}, {false, true}}) {
        store.setBool(prefs::autoMove, autoMove);
        store.setBool(prefs::showPopup, showPopup);
        EXPECT_EQ(page->isEnabled(), autoMove || showPopup);
    }
}

TEST_F(FoldersPageTest, CreateKeepsTheNameAsTypedAndRefusesNamesThatLeaveTheParent)
{
    open({}, "Created");
    EXPECT_TRUE(page->emptyState()->isVisible());
    QStringList texts;
    for (const QLabel* label : page->emptyState()->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains("No custom folders created yet."));
    page->addButton()->click();
    page->newNameField()->setText(" \t ");
    EXPECT_FALSE(page->createButton()->isEnabled());

    const QStringList before = QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString name : {"a/b", ".", ".."}) {
        page->newNameField()->setText(name);
        page->createButton()->click();
        EXPECT_EQ(folders.folders().size(), 4) << qPrintable(name);
        EXPECT_TRUE(page->isAddingFolder());
    }
    EXPECT_EQ(interaction.beeps, 3);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_FALSE(QFileInfo::exists(desktop("a")));

    page->newNameField()->setText(" Shots");
    page->parentPicker()->setCurrentText("Documents");
    page->createButton()->click();
    const FolderConfig created = stored(" Shots");
    EXPECT_EQ(created.path, "Documents/ Shots");
    EXPECT_TRUE(QFileInfo(home.filePath("Documents/ Shots")).isDir());
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), created.idText());
    EXPECT_FALSE(page->isAddingFolder());
    EXPECT_TRUE(page->newNameField()->text().isEmpty());
    ASSERT_EQ(page->rows().size(), 1);
    EXPECT_FALSE(page->emptyState()->isVisible());
    EXPECT_FALSE(row(" Shots")->changeButton()->isEnabled());
}

TEST_F(FoldersPageTest, DeletingTheSelectedFolderTrashesItAndFallsBackToTheDesktop)
{
    QDir().mkpath(desktop("Work"));
    test::writeFile(desktop("Work/a.png"), "a");
    open({"Work", "Gone"}, "Created");
    select("Work");
    // A pending rename of the folder goes with it.
    QTest::mouseClick(row("Work")->editButton(), Qt::LeftButton);
    QTest::keyClick(row("Work")->prefixField(), Qt::Key_X);
    interaction.answer = 0;
    row("Work")->changeButton()->click();
    ASSERT_EQ(view->renameBook().pendingRetroRenames.size(), 1);

    interaction.answer = 1;
    QTest::mouseClick(row("Work")->trashButton(), Qt::LeftButton);
    EXPECT_EQ(interaction.alerts.last().informativeText,
              "This will move \"Work\" and all its contents to the Trash.");
    EXPECT_TRUE(QFileInfo::exists(desktop("Work")));

    interaction.answer = 0;
    QTest::mouseClick(row("Work")->trashButton(), Qt::LeftButton);
    EXPECT_EQ(test::readFile(trashed("Work/a.png")), "a");
    EXPECT_FALSE(QFileInfo::exists(desktop("Work")));
    EXPECT_TRUE(stored("Work").name.isEmpty());
    EXPECT_TRUE(view->renameBook().pendingRetroRenames.isEmpty());
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), stored("Desktop").idText());
    EXPECT_EQ(store.textValue(prefs::activeTab), "Default");

    // A folder whose directory is already gone only loses its row.
    store.setText(prefs::activeTab, "Created");
    QTest::mouseClick(row("Gone")->trashButton(), Qt::LeftButton);
    EXPECT_TRUE(page->rows().isEmpty());
    EXPECT_EQ(interaction.beeps, 0);
    EXPECT_FALSE(QFileInfo::exists(trashed("Gone")));
}

TEST_F(FoldersPageTest, DeleteNeverTrashesAStandardDirectoryOrAnythingOutsideThem)
{
    // The desktop is the home folder itself, as some sessions have it.
    for (const char* dir : {".config", "Documents", "Media/Pictures"})
        QDir().mkpath(home.filePath(dir));
    test::writeFile(home.filePath(".config/user-dirs.dirs"),
                    "XDG_DESKTOP_DIR=\"$HOME\"\nXDG_PICTURES_DIR=\"$HOME/Media/Pictures\"\n");
    const QTemporaryDir outside;
    ASSERT_TRUE(QFile::link(outside.path(), home.filePath("Elsewhere")));
    ASSERT_TRUE(QFile::link(home.filePath("Documents"), home.filePath("Docs")));
    // "" names the desktop itself; "Media" holds the pictures.
    const QStringList names{"", "Elsewhere", "Docs", "Media"};
    open(names, "Created");
    interaction.answer = 0;
    for (const QString& name : names) {
        const int beeps = interaction.beeps;
        QTest::mouseClick(row(name)->trashButton(), Qt::LeftButton);
        EXPECT_EQ(interaction.beeps, beeps + 1) << qPrintable(name);
        EXPECT_NE(row(name), nullptr) << qPrintable(name);
    }
    EXPECT_TRUE(QFileInfo(home.filePath("Media/Pictures")).isDir());
    for (const char* link : {"Elsewhere", "Docs"})
        EXPECT_TRUE(QFileInfo(home.filePath(link)).isSymLink()) << link;
    EXPECT_FALSE(QFileInfo::exists(home.filePath(".local/share/Trash")));
}

TEST_F(FoldersPageTest, AFolderThatCannotBeTrashedKeepsItsRow)
{
    QDir().mkpath(desktop("Work"));
    open({"Work"}, "Created");
    // No trash can be made under a regular file; the item put back from the fallback trash.
    const QTemporaryDir cwd;
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(cwd.path());
    test::writeFile(home.filePath("blocker"), "");
    qputenv("XDG_DATA_HOME", toNativePath(home.filePath("blocker/share")));
    interaction.answer = 0;
    QTest::mouseClick(row("Work")->trashButton(), Qt::LeftButton);
    QDir::setCurrent(savedCwd);
    EXPECT_EQ(interaction.beeps, 1);
    EXPECT_TRUE(QFileInfo(desktop("Work")).isDir());
    EXPECT_NE(row("Work"), nullptr);
    EXPECT_FALSE(stored("Work").name.isEmpty());
}

TEST_F(FoldersPageTest, ChangeIsOfferedWhileTheRuleDiffersFromTheCommittedOne)
{
    open({"Work"}, "Created");
    select("Work");
    QTest::mouseClick(row("Work")->editButton(), Qt::LeftButton);
    ASSERT_TRUE(row("Work")->isEditorShown());
    QPushButton* change = row("Work")->changeButton();
    EXPECT_FALSE(change->isEnabled());

    // Typed where the focus is, as a person does: both letters land in the stored rule.
    row("Work")->prefixField()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "A");
    QTest::keyClicks(QApplication::focusWidget(), "b");
    EXPECT_EQ(stored("Work").prefix, "QuillaryAb");
    EXPECT_TRUE(change->isEnabled());

    interaction.answer = 0;
    change->click();
    EXPECT_EQ(interaction.alerts.last().messageText, renameConfirmation("Work").messageText);
    const QList<RetroRenameJob> expected{{stored("Work").id, "QuillaryAb", true, "png"}};
    EXPECT_EQ(view->renameBook().pendingRetroRenames, expected);

    // Selecting another folder closes the editor.
    store.setText(prefs::selectedFolderID, stored("Desktop").idText());
    select("Work");
    EXPECT_FALSE(row("Work")->isEditorShown());
}

} // namespace
} // namespace quillary
