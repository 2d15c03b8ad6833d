#include "platform/Trash.h"

#include "core/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QtGlobal>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <unistd.h>
#define QUILLARY_FREEDESKTOP_TRASH 1
#endif

namespace quillary {
namespace {

#ifdef QUILLARY_FREEDESKTOP_TRASH
// Qt falls back to the working directory for the trash when it cannot make the home trash, and
// then reports success with a relative `files/…` path: it creates `files` and `info` there.
struct WorkingDirectoryTrash {
    QString filesDir = QDir::current().absoluteFilePath(QStringLiteral("files"));
    QString infoDir = QDir::current().absoluteFilePath(QStringLiteral("info"));
    bool hadFiles = QFileInfo::exists(filesDir);
    bool hadInfo = QFileInfo::exists(infoDir);
};

// Moves a misplaced item back to where it was (never over something new there) and removes what
// Qt left beside it: the info record and the folders it created for them.
void putBack(const QString& misplaced, const QString& original, const WorkingDirectoryTrash& before)
{
    if (!QFile::rename(misplaced, original)) {
        qWarning("Could not move %s back to %s after a failed move to the trash", qUtf8Printable(misplaced),
                 qUtf8Printable(original));
        return;
    }
    const QFileInfo moved(misplaced);
    const QString filesDir = moved.absolutePath();
    const QString infoDir = QDir::cleanPath(filesDir + QStringLiteral("/../info"));
    QFile::remove(infoDir + u'/' + moved.fileName() + QStringLiteral(".trashinfo"));
    // rmdir refuses folders that are not empty, so only what Qt just made is removed.
    if (!before.hadFiles && filesDir == before.filesDir)
        QDir().rmdir(filesDir);
    if (!before.hadInfo && infoDir == before.infoDir)
        QDir().rmdir(infoDir);
}

// Qt 6.4 writes Path= unescaped, so trash clients would restore "100%41.png" as "100A.png".
void escapeRecordedPath(const QString& pathInTrash, const QString& source)
{
    const QFileInfo trashed(pathInTrash);
    const QString infoPath = QDir::cleanPath(trashed.absolutePath() + QStringLiteral("/../info")) + u'/' +
                             trashed.fileName() + QStringLiteral(".trashinfo");
    QFile in(infoPath);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QByteArray record = in.readAll();
    in.close();
    const QByteArray raw = "\nPath=" + toNativePath(source) + '\n';
    const QByteArray escaped = "\nPath=" + QUrl::toPercentEncoding(toNativePath(source), "/") + '\n';
    if (raw == escaped || !record.contains(raw))
        return;
    record.replace(raw, escaped);
    QSaveFile out(infoPath);
    if (out.open(QIODevice::WriteOnly) && out.write(record) == record.size())
        out.commit();
}
#endif

} // namespace

bool isTrashedLocation(const QString& pathInTrash)
{
    if (QDir::isRelativePath(pathInTrash))
        return false;
    const QStringList parts = QDir::cleanPath(pathInTrash).split(u'/');
    const qsizetype n = parts.size();
    if (n < 4 || parts[n - 2] != QStringLiteral("files") || parts[n - 1].isEmpty())
        return false;
    const QString& trash = parts[n - 3];
#ifdef QUILLARY_FREEDESKTOP_TRASH
    const QString uid = QString::number(::getuid());
    if (trash == QStringLiteral(".Trash-") + uid)
        return true;
    if (trash == uid && parts[n - 4] == QStringLiteral(".Trash"))
        return true;
#endif
    return trash == QStringLiteral("Trash");
}

bool moveToTrash(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    const QString source = QDir::cleanPath(info.absoluteFilePath());

#ifdef QUILLARY_FREEDESKTOP_TRASH
    // Qt makes the home trash with a single mkdir, which fails in a home without ~/.local/share.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    const WorkingDirectoryTrash before;
    QString pathInTrash;
    if (!QFile::moveToTrash(source, &pathInTrash))
        return false;
    if (isTrashedLocation(pathInTrash)) {
        escapeRecordedPath(pathInTrash, source);
        return true;
    }
    putBack(QDir::cleanPath(QDir::current().absoluteFilePath(pathInTrash)), source, before);
    return false;
#else
    return QFile::moveToTrash(source);
#endif
}

} // namespace quillary
