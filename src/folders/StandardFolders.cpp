#include "folders/StandardFolders.h"

#include "core/FileNames.h"

#include <QDir>
#include <QStandardPaths>

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
    QStandardPaths::StandardLocation location = QStandardPaths::DesktopLocation;
    QString englishName = QStringLiteral("Desktop");
    if (name == u"Downloads" || name == u"Documents" || name == u"Pictures") {
        englishName = name;
        location = name == u"Downloads"   ? QStandardPaths::DownloadLocation
                   : name == u"Documents" ? QStandardPaths::DocumentsLocation
                                          : QStandardPaths::PicturesLocation;
    }
    // Qt reads $HOME, $XDG_CONFIG_HOME and user-dirs.dirs afresh on every call.
    QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        path = QDir::homePath() + u'/' + englishName;
    return QUrl::fromLocalFile(path);
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
