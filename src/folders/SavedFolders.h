#pragma once

#include "folders/FolderConfig.h"

#include <QList>
#include <QString>

#include <optional>

namespace quillary {

class Preferences;

// The stored folder list; absent or unreadable text reads as no folders.
QList<FolderConfig> loadSavedFolders(const Preferences& store);
// Saves the list, unless its text would be over FolderList::kMaxTextBytes: such a list would not be
// read back, so the stored one stays, a "⚠️" line says why, and the answer is false.
bool saveFolders(Preferences& store, const QList<FolderConfig>& folders);

// Adds each standard folder no stored record is named after, in order, and saves the list if it
// grew. An unreadable stored list is first kept under "savedFolders_v2_unreadable" and reported; a
// text over FolderList::kMaxTextBytes goes to the file "savedFolders_v2_unreadable.json" beside the
// settings file instead, so that it does not slow down every later write of a setting.
// Then, when the selected id names no record, selects the record named "Desktop" if there is one.
void seedDefaultFolders(Preferences& store);

enum class QuickCreateRegistration { added, duplicate, notSaved };

// Stores a folder made by quick-create under `parentName`, unless a record already has its path or
// has its name somewhere below `parentName`; a duplicate stores nothing, nor does a list too long to
// save. The selection is kept.
QuickCreateRegistration registerQuickCreatedFolder(Preferences& store, const QString& folderName,
                                                   const QString& parentName);

// A new custom folder for the settings window to add; neither checked against the list nor saved.
FolderConfig makeCustomFolder(const QString& name, const QString& parentName);

} // namespace quillary
