#include "folders/QuickCreate.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"
#include "core/Interaction.h"
#include "core/Preferences.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"

#include <filesystem>

namespace quillary {

void quickCreateFolder(FolderStore& folders, Interaction& interaction)
{
    const Preferences& store = folders.preferences();
    if (!store.boolValue(prefs::quickCreateEnabled)) {
        interaction.beep();
        return;
    }
    const QString baseName = store.textValue(prefs::quickCreateBaseFolder);
    const ModalAlert alert{QStringLiteral("Create Folder"),
                           QStringLiteral("Enter a folder name to create inside ") + baseName + u'.',
                           {QStringLiteral("Save"), QStringLiteral("Cancel")}};
    const std::optional<QString> typed = interaction.runTextPrompt(alert, QStringLiteral("Folder name"));
    if (!typed)
        return;
    const QString name = safeFileNameComponent(typed->trimmed());
    if (name.isEmpty())
        return;

    const QString directory = joinPath(standardDirectoryURL(baseName).toLocalFile(), name);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(toNativePath(directory).toStdString()), error);
    if (error) {
        printLine(QStringLiteral("❌ Create folder failed: ") + QString::fromStdString(error.message()));
        interaction.beep();
        return;
    }
    if (folders.registerQuickCreated(name, baseName) != QuickCreateRegistration::added)
        interaction.beep();
}

} // namespace quillary
