#include "platform/DirectoryListing.h"

#include <QDir>
#include <QFileInfo>

namespace quillary {

DirectoryListing listFilesWithExtensions(const QString& folder, const QList<QByteArray>& extensions)
{
    DirectoryListing listing;
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        listing.errorDescription = QStringLiteral("The folder “%1” could not be listed.").arg(folder);
        return listing;
    }
    QStringList patterns;
    for (const QByteArray& extension : extensions)
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(extension));
    const QFileInfoList files = dir.entryInfoList(patterns, QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo& info : files) {
        QDateTime created = info.birthTime();
        if (!created.isValid())
            created = info.metadataChangeTime();
        DirectoryEntry entry{info.fileName(), std::nullopt, info.size()};
        if (created.isValid())
            entry.creationTimeNs = created.toMSecsSinceEpoch() * 1'000'000;
        if (const QDateTime modified = info.lastModified(); modified.isValid())
            entry.modificationTimeNs = modified.toMSecsSinceEpoch() * 1'000'000;
        listing.entries.push_back(std::move(entry));
    }
    listing.ok = true;
    return listing;
}

DirectoryListing listPngFiles(const QString& folder)
{
    return listFilesWithExtensions(folder, {QByteArrayLiteral("png")});
}

} // namespace quillary
