// The settings file: the input is the INI file the store is opened on, read the way the application
// reads it at launch (registered defaults, every key by its type, the folder bookmark, the standard
// folders seeded into the stored list), and then opened again to see that what was written reads back.
#include "FuzzSupport.h"
#include "core/PreferenceKeys.h"
#include "core/Preferences.h"
#include "folders/FolderList.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "platform/FolderBookmark.h"

#include <algorithm>
#include <cmath>

using namespace quillary;

namespace {

void readEveryKey(const Preferences& store)
{
    for (const PreferenceKey& key : prefs::allKeys) {
        (void)store.hasStoredValue(key);
        switch (key.type) {
        case PreferenceType::Boolean:
            (void)store.boolValue(key);
            break;
        case PreferenceType::Text:
            (void)store.textValue(key);
            break;
        case PreferenceType::Data:
            (void)store.dataValue(key);
            break;
        case PreferenceType::Double:
            // Whatever the file holds, a number read is one the settings window can show and keep.
            FUZZ_CHECK(std::isfinite(store.doubleValue(key)));
            break;
        }
    }
    if (const std::optional<QByteArray> bookmark = store.dataValue(prefs::folderBookmark))
        (void)resolveFolderBookmark(*bookmark);
}

bool hasFolderNamed(const QList<FolderConfig>& folders, const QString& name)
{
    return std::any_of(folders.cbegin(), folders.cend(),
                       [&](const FolderConfig& f) { return f.name == name; });
}

// QSettings turns every `@Variant(…)` value of the file back into its type through QDataStream when it
// writes the file, and some types start by reserving room for the element count the data states:
// a few bytes can ask for tens of gigabytes. That is Qt's reading, not ours, and Quillary itself
// never writes a @Variant, so only the two types a hand-edited file plausibly holds are let through.
bool hasOnlyPlainVariants(QByteArrayView file)
{
    qsizetype at = 0;
    while ((at = file.indexOf("@Variant(", at)) >= 0) {
        at += qsizetype(sizeof "@Variant(") - 1;
        const QByteArrayView type = file.sliced(at).first(std::min<qsizetype>(file.size() - at, 10));
        if (type != "\\0\\0\\0\\x1\\" && type != "\\0\\0\\0\\x6\\") // bool, double
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A new name for every input: QSettings keeps files it has read in a cache that it checks against
    // the file's size and time, which two inputs written within one clock tick can share.
    if (!hasOnlyPlainVariants(QByteArrayView(data, qsizetype(size))))
        return -1; // not kept in the corpus
    static int inputs = 0;
    const QString path = fuzz::scratchFolder() + QStringLiteral("/Quillary-%1.conf").arg(++inputs);
    fuzz::writeFile(path, QByteArrayView(data, qsizetype(size)));

    QList<FolderConfig> seeded;
    QString selected;
    {
        Preferences store(path);
        registerDefaultSettings(store);
        readEveryKey(store);

        const QVariant storedList = store.storedValue(prefs::savedFolders);
        const QList<FolderConfig> before = loadSavedFolders(store);
        seedDefaultFolders(store);
        seeded = loadSavedFolders(store);
        selected = store.textValue(prefs::selectedFolderID);

        // Seeding only adds: the folders read before stay first, in order, each standard one is
        // there, and the selection names one of them.
        FUZZ_CHECK(seeded.mid(0, before.size()) == before);
        for (const QString& name : standardFolderNames())
            FUZZ_CHECK(hasFolderNamed(seeded, name));
        FUZZ_CHECK(std::any_of(seeded.cbegin(), seeded.cend(),
                               [&](const FolderConfig& f) { return f.idText() == selected; }));
        // A stored list that could not be read is kept as it was before it is replaced.
        const bool readable =
            storedList.typeId() == QMetaType::QString &&
            (storedList.toString().isEmpty() || FolderList::fromText(storedList.toString()));
        // (NaN, which a binary @Variant can hold, equals nothing, itself included.)
        const bool nan = storedList.typeId() == QMetaType::Double && std::isnan(storedList.toDouble());
        if (storedList.isValid() && !readable && !nan && seeded.size() > before.size())
            FUZZ_CHECK(store.storedValue(prefs::savedFoldersUnreadable) == storedList);
    }
    {
        const Preferences reopened(path);
        readEveryKey(reopened);
        FUZZ_CHECK(loadSavedFolders(reopened) == seeded);
        FUZZ_CHECK(reopened.textValue(prefs::selectedFolderID) == selected);
    }
    QFile::remove(path);
    return 0;
}
