#pragma once

#include "folders/FolderConfig.h"
#include "folders/SavedFolders.h"

#include <QList>
#include <QObject>

#include <optional>

namespace quillary {

class Preferences;

// The stored folder list as one object: parsed once per change of the stored text, written back
// whole, with a signal when it changed (here or through the preference store). Main thread only.
class FolderStore final : public QObject {
    Q_OBJECT

public:
    explicit FolderStore(Preferences& store, QObject* parent = nullptr);

    const QList<FolderConfig>& folders() const;
    // The first folder whose idText() is exactly `idText`.
    std::optional<FolderConfig> find(const QString& idText) const;

    // False when the list was too long to save (see saveFolders); the stored list then stays.
    bool save(const QList<FolderConfig>& folders);
    // See seedDefaultFolders and registerQuickCreatedFolder.
    void seedDefaults();
    QuickCreateRegistration registerQuickCreated(const QString& folderName, const QString& parentName);

    Preferences& preferences() const { return m_store; }

signals:
    void foldersChanged();

private:
    Preferences& m_store;
    mutable std::optional<QList<FolderConfig>> m_folders;
};

} // namespace quillary
