#include "ui/settings/FoldersPage.h"
#include "ui/settings/FolderRow.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsView.h"

#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"

#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace quillary {
namespace {

class NoHost final : public SettingsHost {
public:
    QUrl currentWatchURL() const override { return {}; }
    WatchStatus watchStatus() const override { return WatchStatus::notStarted; }
    bool isUsingCustomWatchFolder() const override { return false; }
    void setCustomWatchFolder(const QUrl&) override {}
    void startWatching() override {}
    void setLaunchAtLogin(bool) override {}
};

class FoldersPageTest : public ::testing::Test, public test::SessionHome {
protected:
    FoldersPageTest() { registerDefaultSettings(store); }

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
        for (FolderRow* shown : page->rows()) {
            if (shown->folder().name == name)
                return shown;
        }
        return nullptr;
    }
    FolderConfig stored(const QString& name) const
    {
        for (const FolderConfig& folder : folders.folders()) {
            if (folder.name == name)
                return folder;
        }
        return {};
    }
    void select(const QString& name) { QTest::mouseClick(row(name)->selectButton(), Qt::LeftButton); }
    QString desktop(const QString& name = {}) const { return QDir(home.filePath("Desktop")).filePath(name); }
    QString trashed(const QString& name) const { return home.filePath(".local/share/Trash/files/" + name); }

    FolderStore folders{store};
    NoHost host;
    test::FakeInteraction interaction;
    std::unique_ptr<SettingsView> view;
    FoldersPage* page = nullptr;
};

bool isDimmedTo(QWidget* widget, qreal opacity)
{
    const auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return !widget->isEnabled() && effect && qFuzzyCompare(effect->opacity(), opacity);
}

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
    store.setText(prefs::activeTab, "Default"); // a short list: nothing left out
    EXPECT_LT(page->rows().size(), 200);
    EXPECT_FALSE(more->isVisible());
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

    store.setBool(prefs::autoMove, true);
    store.setBool(prefs::showPopup, false);
    EXPECT_FALSE(isDimmedTo(page, 0.6));
    store.setBool(prefs::autoMove, false);
    EXPECT_TRUE(isDimmedTo(page, 0.6));
    store.setBool(prefs::showPopup, true);
    EXPECT_TRUE(page->isEnabled());
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
    QDir().mkpath(home.filePath(".config"));
    test::writeFile(home.filePath(".config/user-dirs.dirs"),
                    "XDG_DESKTOP_DIR=\"$HOME\"\nXDG_PICTURES_DIR=\"$HOME/Media/Pictures\"\n");
    const QTemporaryDir outside;
    QDir().mkpath(home.filePath("Documents"));
    QDir().mkpath(home.filePath("Media/Pictures"));
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
    EXPECT_TRUE(QFileInfo(home.filePath("Elsewhere")).isSymLink());
    EXPECT_TRUE(QFileInfo(home.filePath("Docs")).isSymLink());
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
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("blocker/share")));
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
    EXPECT_TRUE(isDimmedTo(change, 0.3));

    // Typed where the focus is, as a person does: both letters land in the stored rule.
    row("Work")->prefixField()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "A");
    QTest::keyClicks(QApplication::focusWidget(), "b");
    EXPECT_EQ(stored("Work").prefix, "QuillaryAb");
    EXPECT_TRUE(change->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_TRUE(isDimmedTo(change, 0.3));

    QTest::keyClicks(QApplication::focusWidget(), "2");
    interaction.answer = 0;
    change->click();
    EXPECT_EQ(interaction.alerts.last().messageText, renameConfirmation("Work").messageText);
    const QList<RetroRenameJob> expected{{stored("Work").id, "Quillary2", true, "png"}};
    EXPECT_EQ(view->renameBook().pendingRetroRenames, expected);
    EXPECT_TRUE(isDimmedTo(change, 0.3));

    // Selecting another folder closes the editor.
    store.setText(prefs::selectedFolderID, stored("Desktop").idText());
    select("Work");
    EXPECT_FALSE(row("Work")->isEditorShown());
}

} // namespace
} // namespace quillary
