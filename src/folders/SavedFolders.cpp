#include "folders/SavedFolders.h"

#include "core/Diagnostics.h"
#include "core/Preferences.h"
#include "folders/FolderList.h"
#include "folders/StandardFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace quillary {
namespace {

QString standardFolderIcon(const QString& name)
{
    if (name == u"Documents")
        return QStringLiteral("doc.text.fill");
    if (name == u"Downloads")
        return QStringLiteral("arrow.down.circle.fill");
    if (name == u"Pictures")
        return QStringLiteral("photo.fill");
    return QStringLiteral("desktopcomputer");
}

FolderConfig makeFolder(const QString& name, const QString& path, const QString& icon, bool renames)
{
    FolderConfig folder;
    folder.id = QUuid::createUuid();
    folder.name = name;
    folder.path = path;
    folder.icon = icon;
    folder.isRenamingEnabled = renames;
    folder.prefix = renames ? QStringLiteral("Quillary") : QString();
    folder.includeDate = renames;
    folder.fileFormat = QStringLiteral("png");
    return folder;
}

// Keeps a stored list too long to be read in a file of its own beside the settings file: under a key
// of that file it would be written out again with every change of any setting. The file's path, or
// nothing when the text is short enough for the settings file or the file could not be written.
QString keepAsideInFile(const Preferences& store, const QVariant& stored)
{
    if (stored.typeId() != QMetaType::QString)
        return {};
    const QByteArray text = stored.toString().toUtf8();
    if (text.size() <= FolderList::kMaxTextBytes)
        return {};
    const QString path =
        QFileInfo(store.fileName()).dir().filePath(QStringLiteral("savedFolders_v2_unreadable.json"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return {};
    return path;
}

} // namespace

QList<FolderConfig> loadSavedFolders(const Preferences& store)
{
    std::optional<FolderList> list = FolderList::fromText(store.textValue(prefs::savedFolders));
    return list ? std::move(list->folders) : QList<FolderConfig>();
}

bool saveFolders(Preferences& store, const QList<FolderConfig>& folders)
{
    const QString text = FolderList{folders}.toText();
    if (text.toUtf8().size() > FolderList::kMaxTextBytes) {
        printLine(
            QStringLiteral("⚠️ Quillary: The folder list is too long to save; the change was not saved"));
        return false;
    }
    // A stored list that cannot be read is about to be replaced; keep it so that the user's folders
    // can be recovered by hand. That includes values that are not text at all: a list edited by hand
    // without quotes reads back as a list of strings, and is kept as one.
    const QVariant stored = store.storedValue(prefs::savedFolders);
    const bool readable = stored.typeId() == QMetaType::QString &&
                          (stored.toString().isEmpty() || FolderList::fromText(stored.toString()));
    if (stored.isValid() && !readable) {
        QString keptIn = keepAsideInFile(store, stored);
        if (keptIn.isEmpty()) {
            store.setStoredValue(prefs::savedFoldersUnreadable, stored);
            keptIn = QStringLiteral("under savedFolders_v2_unreadable");
        } else {
            keptIn = QStringLiteral("in ") + keptIn;
        }
        printLine(QStringLiteral("⚠️ Quillary: The saved folder list could not be read; it was kept ") +
                  keptIn + QStringLiteral(" before being replaced"));
    }
    store.setText(prefs::savedFolders, text);
    return true;
}

void seedDefaultFolders(Preferences& store)
{
    QList<FolderConfig> folders = loadSavedFolders(store);

    const auto namedExactly = [&folders](const QString& name) {
        return std::find_if(folders.cbegin(), folders.cend(),
                            [&name](const FolderConfig& folder) { return folder.name == name; });
    };
    bool grew = false;
    for (const QString& name : standardFolderNames()) {
        if (namedExactly(name) == folders.cend()) {
            folders.append(makeFolder(name, name, standardFolderIcon(name), false));
            grew = true;
        }
    }
    if (grew)
        saveFolders(store, folders); // too long: the list stays as it is, and readable

    const QString selected = store.textValue(prefs::selectedFolderID);
    const bool selectionExists =
        std::any_of(folders.cbegin(), folders.cend(),
                    [&selected](const FolderConfig& f) { return f.idText() == selected; });
    if (selectionExists)
        return;
    if (const auto desktop = namedExactly(QStringLiteral("Desktop")); desktop != folders.cend())
        store.setText(prefs::selectedFolderID, desktop->idText());
}

QuickCreateRegistration registerQuickCreatedFolder(Preferences& store, const QString& folderName,
                                                   const QString& parentName)
{
    QList<FolderConfig> folders = loadSavedFolders(store);
    const QString path = parentName + u'/' + folderName;
    const QString parentPrefix = parentName + u'/';
    for (const FolderConfig& folder : folders) {
        if (folder.path == path || (folder.name == folderName && folder.path.startsWith(parentPrefix)))
            return QuickCreateRegistration::duplicate;
    }
    folders.append(makeFolder(folderName, path, QStringLiteral("folder.fill"), true));
    return saveFolders(store, folders) ? QuickCreateRegistration::added : QuickCreateRegistration::notSaved;
}

FolderConfig makeCustomFolder(const QString& name, const QString& parentName)
{
    return makeFolder(name, parentName + u'/' + name, QStringLiteral("folder.badge.plus"), true);
}

} // namespace quillary
