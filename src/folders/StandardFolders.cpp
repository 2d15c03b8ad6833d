#include "folders/StandardFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace quillary {
namespace {

// Keeps a custom folder's name one component below its parent: a "/" would nest it deeper or,
// leading, make it absolute, and "." or ".." would resolve to the parent or above it. The settings
// window may accept such names, so they are made harmless here rather than refused.
QString safePathComponent(const QString& name)
{
    QString component = name;
    component.replace(u'/', u'-');
    if (component == u"." || component == u"..")
        component.fill(u'-');
    return component;
}

} // namespace

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
    return QUrl::fromLocalFile(parent.filePath(safePathComponent(folder.name)));
}

} // namespace quillary
