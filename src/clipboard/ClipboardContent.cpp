#include "clipboard/ClipboardContent.h"

#include "folders/StandardFolders.h"

#include <QImageReader>
#include <QUrl>

namespace quillary {
namespace {

// What GNOME Files, Caja, Nemo (the first two) and Dolphin (the rest) add to a copy of files.
const QStringList& fileManagerCopyTypes()
{
    static const QStringList types{
        QStringLiteral("x-special/gnome-copied-files"),
        QStringLiteral("x-special/mate-copied-files"),
        QStringLiteral("application/x-kde-cutselection"),
        QStringLiteral("application/x-kde4-urilist"),
    };
    return types;
}

bool listsFileUrl(const QByteArray& uriList)
{
    for (const QByteArray& rawLine : uriList.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (QUrl::fromEncoded(line).scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isDecodable(const QString& mimeType)
{
    static const QList<QByteArray> decodable = QImageReader::supportedMimeTypes();
    return decodable.contains(mimeType.toLatin1());
}

} // namespace

bool offersFileReference(const QStringList& formats, const std::function<QByteArray(const QString&)>& read)
{
    for (const QString& type : formats) {
        if (fileManagerCopyTypes().contains(type, Qt::CaseInsensitive))
            return true;
    }
    const QString uriList = QStringLiteral("text/uri-list");
    return formats.contains(uriList, Qt::CaseInsensitive) && listsFileUrl(read(uriList));
}

QString pickImageFormat(const QStringList& formats)
{
    const QString png = QStringLiteral("image/png");
    if (formats.contains(png, Qt::CaseInsensitive))
        return png;
    QString vector;
    for (const QString& type : formats) {
        const QString lower = type.toLower();
        if (!lower.startsWith(QLatin1String("image/")) || !isDecodable(lower))
            continue;
        if (lower.startsWith(QLatin1String("image/svg")))
            vector = vector.isEmpty() ? type : vector;
        else
            return type;
    }
    return vector;
}

QString clipboardFileName(qint64 secondsSinceEpoch, int attempt)
{
    const QString stem = QStringLiteral("Clipboard_") + QString::number(secondsSinceEpoch);
    return (attempt <= 1 ? stem : stem + QLatin1Char('-') + QString::number(attempt)) +
           QStringLiteral(".png");
}

QString clipboardFolderPath(const QString& syncFolderName)
{
    const QString name = syncFolderName.isEmpty() ? QStringLiteral("Desktop") : syncFolderName;
    return standardDirectoryURL(name).toLocalFile() + QStringLiteral("/ClipBoard");
}

} // namespace quillary
