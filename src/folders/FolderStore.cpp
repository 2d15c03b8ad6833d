#include "folders/FolderStore.h"

#include "core/Preferences.h"

namespace quillary {

FolderStore::FolderStore(Preferences& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    // Writes from other threads arrive queued; the cache is dropped then and parsed again on demand.
    connect(&m_store, &Preferences::valueChanged, this, [this](const QString& key) {
        if (key != keyName(prefs::savedFolders))
            return;
        m_folders.reset();
        emit foldersChanged();
    });
}

const QList<FolderConfig>& FolderStore::folders() const
{
    if (!m_folders)
        m_folders = loadSavedFolders(m_store);
    return *m_folders;
}

std::optional<FolderConfig> FolderStore::find(const QString& idText) const
{
    for (const FolderConfig& folder : folders()) {
        if (folder.idText() == idText)
            return folder;
    }
    return std::nullopt;
}

bool FolderStore::save(const QList<FolderConfig>& folders)
{
    return saveFolders(m_store, folders);
}

void FolderStore::seedDefaults()
{
    seedDefaultFolders(m_store);
}

QuickCreateRegistration FolderStore::registerQuickCreated(const QString& folderName,
                                                          const QString& parentName)
{
    return registerQuickCreatedFolder(m_store, folderName, parentName);
}

} // namespace quillary
