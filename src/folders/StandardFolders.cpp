#include "folders/StandardFolders.h"

#include "core/FileNames.h"
#include "platform/UserDirectories.h"

#include <QDir>

namespace quillary {

QStringList standardFolderNames()
{
    return {QStringLiteral("Desktop"), QStringLiteral("Documents"), QStringLiteral("Downloads"),
            QStringLiteral("Pictures")};
}

bool isStandardFolderName(const QString& name)
{
    return standardFolderNames().contains(name, Qt::CaseSensitive);
}

QUrl standardDirectoryURL(const QString& name)
{
    const UserDirectory which = name == u"Downloads"   ? UserDirectory::downloads
                                : name == u"Documents" ? UserDirectory::documents
                                : name == u"Pictures"  ? UserDirectory::pictures
                                                       : UserDirectory::desktop;
    // $HOME, $XDG_CONFIG_HOME and user-dirs.dirs are read afresh on every call.
    return QUrl::fromLocalFile(userDirectory(which));
}

QUrl configDirectoryURL(const FolderConfig& folder)
{
    if (isStandardFolderName(folder.name))
        return standardDirectoryURL(folder.name);
    const QStringList pieces = folder.path.split(u'/', Qt::SkipEmptyParts);
    const QString parentName = pieces.isEmpty() ? QStringLiteral("Desktop") : pieces.first();
    const QDir parent(standardDirectoryURL(parentName).toLocalFile());
    return QUrl::fromLocalFile(parent.filePath(safeFileNameComponent(folder.name)));
}

} // namespace quillary
