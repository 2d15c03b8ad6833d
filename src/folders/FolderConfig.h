#pragma once

#include <QString>
#include <QUuid>

namespace quillary {

// One destination folder and its naming rule. `path` is the parent's standard name, a "/" and the
// folder name for a custom folder ("Desktop/Work"), or the name itself for a standard folder.
struct FolderConfig {
    QUuid id;
    QString name;
    QString path;
    QString icon;
    bool isRenamingEnabled = false;
    QString prefix;
    bool includeDate = false;
    QString fileFormat;

    // The canonical 36-character upper-case text of `id`, as stored and compared.
    QString idText() const { return id.toString(QUuid::WithoutBraces).toUpper(); }

    friend bool operator==(const FolderConfig&, const FolderConfig&) = default;
};

} // namespace quillary
