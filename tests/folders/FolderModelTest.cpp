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
#include <QFileInfo>
#include <QSignalSpy>

namespace quillary {
namespace {

FolderConfig record(const QString& name, const QString& path, const QString& icon = "folder.fill")
{
    return {QUuid::createUuid(), name, path, icon, true, "Shot", true, "jpg"};
}

class FolderModelTest : public ::testing::Test, public test::SessionHome {
protected:
    FolderModelTest()
    {
        QDir().mkpath(home.filePath(".config"));
        test::writeFile(home.filePath(".config/user-dirs.dirs"), "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    }

    QUrl dir(const QString& relative) const { return QUrl::fromLocalFile(home.filePath(relative)); }
};

TEST_F(FolderModelTest, TextIsCompactWithTheEightKeysAndReadingIsStrict)
{
    const FolderConfig work = record("Work", "Desktop/Work");
    EXPECT_EQ(
        FolderList{{work}}.toText(),
        R"([{"fileFormat":"jpg","icon":"folder.fill","id":")" + work.idText() +
            R"(","includeDate":true,"isRenamingEnabled":true,"name":"Work","path":"Desktop/Work","prefix":"Shot"}])");
    const FolderList two{{work, record("Désirs \"x\"", "Pictures/a")}};
    EXPECT_EQ(FolderList::fromText(two.toText()), two);
    EXPECT_EQ(FolderList::fromText("[]"), FolderList{});

    const QString id = "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
    const QString good = R"({"id":"%1","name":"N","path":"P","icon":"I","isRenamingEnabled":true,)"
                         R"("prefix":"","includeDate":false,"fileFormat":"png"})";
    // A valid record followed by `second`: one bad element spoils the whole list.
    const auto list = [&](const QString& second) { return '[' + good.arg(id) + ',' + second + ']'; };
    const auto edited = [&](const QString& a, const QString& b) { return good.arg(id).replace(a, b); };
    for (const QString& text :
         {list(edited(R"(,"fileFormat":"png")", "")), list(edited("false", R"("true")")),
          list(edited("true,", "1,")), list(edited("\"P\"", "null")), list(good.arg("not-a-uuid")),
          list(good.arg('{' + id + '}')), list(good.arg(QUuid().toString(QUuid::WithoutBraces))), list("7"),
          good.arg(id), '[' + good.arg(id), QString()})
        EXPECT_FALSE(FolderList::fromText(text).has_value()) << text.toStdString();

    // Accepted: any key order, extra keys, a lower-case id, and an escaped slash.
    const auto read = FolderList::fromText(list(
        R"({"fileFormat":"heic","extra":1,"includeDate":true,"prefix":"Q","isRenamingEnabled":false,)"
        R"("icon":"i","path":"Downloads\/Work","name":"Work","id":"0f8e2c4a-1b3d-4e5f-8a9b-0c1d2e3f4a5c"})"));
    EXPECT_EQ(read.value_or(FolderList{}).folders.value(1),
              (FolderConfig{QUuid::fromString("0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5C"), "Work",
                            "Downloads/Work", "i", false, "Q", true, "heic"}));
}

// A list too deep or too long is refused and kept aside whole (a long text in a file of its own, so
// the settings file stays small); 100,000 entries: tests/e2e/hostile-input.sh.
TEST_F(FolderModelTest, AnAbsurdListIsRefusedWholeAndKeptAside)
{
#if defined(__SANITIZE_ADDRESS__)
    // QSettings grows the file it writes a few kilobytes at a time; glibc extends a block in place,
    // but AddressSanitizer copies it every time, which takes minutes for texts of megabytes.
    GTEST_SKIP() << "too slow under AddressSanitizer; runs in the plain build";
#endif
    const auto entries = [](int count, const QString& name) {
        const QString item = FolderList{{record(name, "Desktop/x")}}.toText().sliced(1).chopped(1);
        return '[' + QStringList(count, item).join(u',') + ']';
    };
    ASSERT_EQ(FolderList::fromText(entries(1000, "Work")).value_or(FolderList{}).folders.size(), 1000);
    const QString file = QFileInfo(store.fileName()).dir().filePath("savedFolders_v2_unreadable.json");
    // What, the text, whether it is kept in the file rather than under the key.
    const std::tuple<const char*, QString, bool> cases[] = {
        {"100,000 nested arrays", QString(100'000, u'[') + QString(100'000, u']'), false},
        {"a name of 600,000 three-byte characters", entries(1, QString(600'000, u'€')), true},
        {"100,000 entries", entries(100'000, "F"), true},
    };
    for (const auto& [what, text, inFile] : cases) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(FolderList::fromText(text).has_value());
        store.setText(prefs::savedFolders, text);
        store.removeValue(prefs::savedFoldersUnreadable);
        EXPECT_EQ(test::stdoutOf([&] { seedDefaultFolders(store); }),
                  "⚠️ Quillary: The saved folder list could not be read; it was kept " +
                      (inFile ? "in " + file : QString("under savedFolders_v2_unreadable")).toStdString() +
                      " before being replaced\n");
        EXPECT_EQ(inFile ? QString::fromUtf8(test::readFile(file))
                         : store.textValue(prefs::savedFoldersUnreadable),
                  text);
        EXPECT_LT(QFileInfo(store.fileName()).size(), inFile ? 10'000 : 2 * text.size())
            << "the settings file stays small";
        EXPECT_EQ(loadSavedFolders(store).size(), 4) << "the standard folders";
    }
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

    // Qt re-reads user-dirs.dirs on every call, so a change in the session shows at once.
    test::writeFile(home.filePath(".config/user-dirs.dirs"), "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n");
    EXPECT_EQ(standardDirectoryURL("Pictures"), dir("Fotos"));
}

TEST_F(FolderModelTest, SeedingAddsTheMissingStandardFoldersAndKeepsAValidSelection)
{
    const QList<FolderConfig> mine{record("Documents", "Documents", "star"), record("Work", "Desktop/Work")};
    saveFolders(store, mine);
    store.setText(prefs::selectedFolderID, mine[1].idText());
    seedDefaultFolders(store);
    const QList<FolderConfig> folders = loadSavedFolders(store);
    ASSERT_EQ(folders.size(), 5);
    EXPECT_EQ(folders.mid(0, 2), mine);
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(folders[i].name, QStringList({"Desktop", "Downloads", "Pictures"})[i - 2]);
        EXPECT_EQ(folders[i].path, folders[i].name);
        EXPECT_FALSE(folders[i].isRenamingEnabled);
    }
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), mine[1].idText());
    QSignalSpy writes(&store, &Preferences::valueChanged);
    seedDefaultFolders(store);
    EXPECT_EQ(writes.count(), 0) << "a complete list with a valid selection is left alone";

    // A selection naming a deleted folder moves to the Desktop record.
    store.setText(prefs::selectedFolderID, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    seedDefaultFolders(store);
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), folders[2].idText());
}

TEST_F(FolderModelTest, AnUnreadableListIsKeptWhateverItsTypeBeforeItIsReplaced)
{
    store.setText(prefs::savedFolders, ""); // nothing worth keeping
    seedDefaultFolders(store);
    EXPECT_FALSE(store.hasStoredValue(prefs::savedFoldersUnreadable));

    const QString broken = R"([{"id":"lost","name":"Work"}])";
    store.setText(prefs::savedFolders, broken);
    registerQuickCreatedFolder(store, "Work", "Desktop"); // any writer, not only seeding
    EXPECT_EQ(store.textValue(prefs::savedFoldersUnreadable), broken);
    EXPECT_EQ(loadSavedFolders(store).size(), 1);

    // Edited by hand without quotes, the list reads back as a list of strings: kept all the same.
    const QString file = store.fileName();
    test::writeFile(file, "[General]\nsavedFolders_v2=[{id:lost}, {name:Work}]\n");
    Preferences reopened(file);
    seedDefaultFolders(reopened);
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
        const QString before = store.textValue(prefs::savedFolders);
        EXPECT_EQ(registerQuickCreatedFolder(store, "Work", "Desktop"), QuickCreateRegistration::duplicate);
        EXPECT_EQ(store.textValue(prefs::savedFolders), before);
    }

    EXPECT_EQ(registerQuickCreatedFolder(store, "Work", "Documents"), QuickCreateRegistration::added);
    FolderConfig added = loadSavedFolders(store).value(2);
    EXPECT_EQ(added.id.version(), QUuid::Random);
    added.id = {};
    EXPECT_EQ(added,
              (FolderConfig{{}, "Work", "Documents/Work", "folder.fill", true, "Quillary", true, "png"}));
}

// A list that would be too long to read back is not saved, or the next start would set it aside
// and the user's folders with it; the stored list stays as it was.
TEST_F(FolderModelTest, AListTooLongToReadBackIsNotSaved)
{
    const QString longName(2'000, u'n');
    const auto big = [&] { return record(longName, "Desktop/" + longName); };
    const auto size = [](const QList<FolderConfig>& list) {
        return FolderList{list}.toText().toUtf8().size();
    };
    QList<FolderConfig> folders;
    for (FolderConfig next = big(); size(folders + QList{next}) <= FolderList::kMaxTextBytes; next = big())
        folders.append(next);
    ASSERT_TRUE(saveFolders(store, folders)) << "as long as a list may be";

    testing::internal::CaptureStdout();
    EXPECT_EQ(registerQuickCreatedFolder(store, longName, "Documents"), QuickCreateRegistration::notSaved);
    EXPECT_FALSE(FolderStore(store).save(folders + QList{big()}));
    const std::string warning =
        "⚠️ Quillary: The folder list is too long to save; the change was not saved\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), warning + warning);
    EXPECT_EQ(loadSavedFolders(store), folders) << "the last list saved, read back whole";
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
