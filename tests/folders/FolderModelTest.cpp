#include "core/PreferenceKeys.h"
#include "core/Preferences.h"
#include "folders/FolderList.h"
#include "folders/FolderStore.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"

#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace quillary {
namespace {

FolderConfig record(const QString& name, const QString& path, const QString& icon = "folder.fill")
{
    return {QUuid::createUuid(), name, path, icon, true, "Shot", true, "jpg"};
}

// A list of a valid Desktop record followed by `secondElement`, to show one bad element spoils all.
QString listText(const QString& secondElement)
{
    const QString valid = R"({"id":"0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B","name":"Desktop","path":"Desktop",)"
                          R"("icon":"desktopcomputer","isRenamingEnabled":false,"prefix":"",)"
                          R"("includeDate":false,"fileFormat":"png"})";
    return u'[' + valid + u',' + secondElement + u']';
}

class FolderModelTest : public ::testing::Test, public test::SessionHome {
protected:
    FolderModelTest()
    {
        QDir().mkpath(home.filePath(".config"));
        test::writeFile(home.filePath(".config/user-dirs.dirs"), "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    }

    QUrl dir(const QString& relative) const { return QUrl::fromLocalFile(home.filePath(relative)); }
    QString storedList() const { return store.textValue(prefs::savedFolders); }
};

TEST_F(FolderModelTest, TextIsCompactWithExactlyTheEightKeysAndRoundTrips)
{
    const FolderList list{{record("Work", "Desktop/Work"), record("Désirs \"x\"", "Pictures/a")}};
    const QString text = list.toText();
    EXPECT_FALSE(text.contains(u'\n') || text.contains(QStringLiteral("\": ")));
    EXPECT_TRUE(text.contains(list.folders[0].idText()));
    EXPECT_FALSE(text.contains(list.folders[0].id.toString(QUuid::WithoutBraces).toLower()));
    const QStringList keys{"fileFormat",        "icon", "id",   "includeDate",
                           "isRenamingEnabled", "name", "path", "prefix"};
    for (const QJsonValue& element : QJsonDocument::fromJson(text.toUtf8()).array())
        EXPECT_EQ(element.toObject().keys(), keys);
    EXPECT_EQ(FolderList::fromText(text), list);
    EXPECT_EQ(FolderList::fromText("[]"), FolderList{});
}

TEST_F(FolderModelTest, ReadingIsStrictAboutEveryElement)
{
    const QString id = "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
    const QString good = R"({"id":"%1","name":"N","path":"P","icon":"I","isRenamingEnabled":true,)"
                         R"("prefix":"","includeDate":false,"fileFormat":"png"})";
    const auto edited = [&](const QString& from, const QString& to) {
        return good.arg(id).replace(from, to);
    };
    for (const QString& text :
         {listText(edited(R"(,"fileFormat":"png")", "")), listText(edited("false", R"("true")")),
          listText(edited("\"P\"", "null")), listText(good.arg("not-a-uuid")),
          listText(good.arg('{' + id + '}')), listText(good.arg(QUuid().toString(QUuid::WithoutBraces))),
          listText("7"), good.arg(id), '[' + good.arg(id), QString()})
        EXPECT_FALSE(FolderList::fromText(text).has_value()) << text.toStdString();

    // Accepted: any key order, extra keys, a lower-case id, and an escaped slash.
    const auto read = FolderList::fromText(listText(
        R"({"fileFormat":"heic","extra":1,"includeDate":true,"prefix":"Q","isRenamingEnabled":false,)"
        R"("icon":"i","path":"Downloads\/Work","name":"Work","id":"0f8e2c4a-1b3d-4e5f-8a9b-0c1d2e3f4a5c"})"));
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->folders.size(), 2);
    EXPECT_EQ(read->folders[1],
              (FolderConfig{QUuid::fromString(QStringLiteral("0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5C")), "Work",
                            "Downloads/Work", "i", false, "Q", true, "heic"}));
}

TEST_F(FolderModelTest, DirectoriesFollowTheSessionsNamesAndStayUnderTheirParent)
{
    const QList<std::pair<FolderConfig, QUrl>> cases{
        {record("Pictures", "Desktop/Pictures"), dir("Bilder")},
        {record("Desktop", ""), dir("Desktop")},
        {record("Work", "Downloads/Work"), dir("Downloads/Work")},
        {record("Work", "Projects/Work"), dir("Desktop/Work")},
        {record("Work", "//"), dir("Desktop/Work")},
        {record("a/b", "Documents/a/b"), dir("Documents/a-b")},
        {record("..", "Pictures/.."), dir("Bilder/--")},
    };
    for (const auto& [folder, expected] : cases)
        EXPECT_EQ(configDirectoryURL(folder), expected) << folder.name.toStdString();
    EXPECT_EQ(standardDirectoryURL("downloads"), dir("Desktop"));
    EXPECT_EQ(standardDirectoryURL(""), dir("Desktop"));

    // Qt re-reads user-dirs.dirs on every call, so a change in the session shows at once.
    test::writeFile(home.filePath(".config/user-dirs.dirs"), "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n");
    EXPECT_EQ(standardDirectoryURL("Pictures"), dir("Fotos"));
}

TEST_F(FolderModelTest, SeedingAddsTheMissingStandardFoldersAndSelectsTheDesktop)
{
    seedDefaultFolders(store);
    const QList<FolderConfig> seeded = loadSavedFolders(store);
    ASSERT_EQ(seeded.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(seeded[i].name, standardFolderNames()[i]);
        EXPECT_EQ(seeded[i].path, seeded[i].name);
        EXPECT_FALSE(seeded[i].isRenamingEnabled);
    }
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), seeded[0].idText());

    QSignalSpy writes(&store, &Preferences::valueChanged);
    seedDefaultFolders(store);
    EXPECT_EQ(writes.count(), 0) << "a complete list with a valid selection is left alone";
}

TEST_F(FolderModelTest, SeedingKeepsExistingRecordsAndAStillValidSelection)
{
    const FolderConfig documents = record("Documents", "Documents", "star");
    const FolderConfig work = record("Work", "Desktop/Work");
    saveFolders(store, {documents, work});
    store.setText(prefs::selectedFolderID, work.idText());
    seedDefaultFolders(store);
    const QList<FolderConfig> folders = loadSavedFolders(store);
    ASSERT_EQ(folders.size(), 5);
    EXPECT_EQ(folders.mid(0, 2), (QList<FolderConfig>{documents, work}));
    EXPECT_EQ(QStringList({folders[2].name, folders[3].name, folders[4].name}),
              QStringList({"Desktop", "Downloads", "Pictures"}));
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), work.idText());
    EXPECT_FALSE(store.hasStoredValue(prefs::savedFoldersUnreadable));

    // A selection naming a deleted folder moves to the existing Desktop record.
    store.setText(prefs::selectedFolderID, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    seedDefaultFolders(store);
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), folders[2].idText());
}

TEST_F(FolderModelTest, AnUnreadableListIsKeptBeforeItIsReplaced)
{
    const QString broken = R"([{"id":"lost","name":"Work"}])";
    store.setText(prefs::savedFolders, broken);
    testing::internal::CaptureStdout();
    seedDefaultFolders(store);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "⚠️ Quillary: The saved folder list could not be read; it was kept under "
              "savedFolders_v2_unreadable before being replaced\n");
    EXPECT_EQ(store.textValue(prefs::savedFoldersUnreadable), broken);
    EXPECT_EQ(loadSavedFolders(store).size(), 4);

    // Empty text is nothing worth keeping.
    store.removeValue(prefs::savedFoldersUnreadable);
    store.setText(prefs::savedFolders, "");
    testing::internal::CaptureStdout();
    seedDefaultFolders(store);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(store.hasStoredValue(prefs::savedFoldersUnreadable));

    // Any writer keeps it, not only seeding.
    store.setText(prefs::savedFolders, broken);
    testing::internal::CaptureStdout();
    EXPECT_EQ(registerQuickCreatedFolder(store, "Work", "Desktop"), QuickCreateRegistration::added);
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(store.textValue(prefs::savedFoldersUnreadable), broken);

    // Edited by hand without quotes, the list reads back from the file as a list of strings; that
    // is not text, and is kept all the same.
    const QString file = store.fileName();
    test::writeFile(file, "[General]\nsavedFolders_v2=[{id:lost}, {name:Work}]\n");
    Preferences reopened(file);
    testing::internal::CaptureStdout();
    seedDefaultFolders(reopened);
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Preferences(file).storedValue(prefs::savedFoldersUnreadable),
              QStringList({"[{id:lost}", "{name:Work}]"}));
}

TEST_F(FolderModelTest, QuickCreateRefusesDuplicatesUnderTheSameParent)
{
    const QList<QList<FolderConfig>> duplicates{
        {record("Work", "Desktop/Work")},
        {record("Old", "Desktop/Work")},
        {record("Screens", "Desktop"), record("Work", "Desktop/Old/Work")}};
    for (const QList<FolderConfig>& existing : duplicates) {
        saveFolders(store, existing);
        const QString before = storedList();
        EXPECT_EQ(registerQuickCreatedFolder(store, "Work", "Desktop"), QuickCreateRegistration::duplicate);
        EXPECT_EQ(storedList(), before);
    }

    store.setText(prefs::selectedFolderID, "kept");
    EXPECT_EQ(registerQuickCreatedFolder(store, "Work", "Documents"), QuickCreateRegistration::added);
    const QList<FolderConfig> folders = loadSavedFolders(store);
    ASSERT_EQ(folders.size(), 3);
    FolderConfig added = folders.last();
    EXPECT_FALSE(added.id.isNull());
    EXPECT_EQ(added.id.version(), QUuid::Random);
    added.id = {};
    EXPECT_EQ(added,
              (FolderConfig{{}, "Work", "Documents/Work", "folder.fill", true, "Quillary", true, "png"}));
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), "kept");
}

TEST_F(FolderModelTest, TheStoreFollowsTheStoredListWhoeverWritesIt)
{
    FolderStore folders(store);
    QSignalSpy changed(&folders, &FolderStore::foldersChanged);
    folders.seedDefaults();
    ASSERT_EQ(folders.folders().size(), 4);
    const FolderConfig work = record("Work", "Desktop/Work");
    saveFolders(store, {work}); // not through the store
    EXPECT_EQ(folders.folders(), QList<FolderConfig>{work});
    EXPECT_EQ(folders.find(work.idText()), work);
    EXPECT_FALSE(folders.find(work.idText().toLower()).has_value());
    EXPECT_EQ(changed.count(), 2);
}

} // namespace
} // namespace quillary
