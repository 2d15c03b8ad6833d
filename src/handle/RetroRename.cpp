#include "handle/RetroRename.h"

#include "core/FileNames.h"
#include "core/OwnOutputs.h"
#include "core/Threading.h"
#include "folders/StandardFolders.h"
#include "handle/NamingRule.h"
#include "handle/SafeFilePlacement.h"
#include "imaging/FileBytes.h"
#include "imaging/ImageLimits.h"
#include "imaging/JpegEncoder.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PdfPageRenderer.h"
#include "platform/DirectoryListing.h"
#include "platform/FileSystem.h"

#include <QDateTime>
#include <QIODevice>
#include <QImageWriter>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace quillary {
namespace {

// A PDF's first page is rendered this many pixels wide.
constexpr int kPdfRenderWidth = 1800;
// How often a file takes the next number when its name was taken between the check and the placing.
constexpr int kMaxNameAttempts = 100;

struct PlannedFile {
    QString path;
    QString extension; // lower case
    bool keepsBytes = false;
};

QString lowerExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.sliced(dot + 1).toLower();
}

// The source as an image: a PDF's first page rendered, anything else decoded whole.
std::optional<QImage> sourceImage(int fd, const QString& extension)
{
    const std::optional<QByteArray> file = readWholeFile(fd, kMaxImageFileBytes);
    if (!file)
        return std::nullopt;
    if (extension == u"pdf")
        return renderFirstPdfPage(*file, kPdfRenderWidth);
    return decodeCompleteImage(*file);
}

bool writeBytes(QIODevice& output, const std::optional<QByteArray>& bytes)
{
    return bytes && output.write(*bytes) == bytes->size();
}

// The first step for one file: a plain move when its bytes stay, else the converted file written
// next to the source. Blocking; safe on any thread.
PreparedPlacement prepareFile(const PlannedFile& file, const QString& format)
{
    if (file.keepsBytes)
        return prepareMove(file.path);
    const QString extension = file.extension;
    if (format == u"jpg") {
        return prepareWrite(file.path, file.path, [extension](int fd, QIODevice& output) {
            if (extension == u"pdf") {
                std::optional<QImage> page = sourceImage(fd, extension);
                return page && writeBytes(output, encodeJpeg(std::move(*page)));
            }
            // The run keeps every core busy with a file of its own, so no helper thread per file.
            return writeBytes(output, encodeJpegFile(fd, false));
        });
    }
    if (format == u"png") {
        return prepareWrite(file.path, file.path, [extension](int fd, QIODevice& output) {
            const std::optional<QImage> image = sourceImage(fd, extension);
            return image && QImageWriter(&output, "png").write(*image);
        });
    }
    if (format == u"pdf") // the source is an image here: a PDF keeps its bytes
        return prepareWrite(file.path, file.path,
                            [](int fd, QIODevice& output) { return writePdfFile(fd, output); });
    return PreparedPlacement(PlaceResult::unsupportedFormat);
}

// Chooses names and puts files in place, strictly in the folder's order, on one thread. The
// counter runs on over the whole folder: a name taken by any entry, the file itself included, is
// skipped, and a file that is not placed still uses up its number.
class Placer final {
public:
    Placer(QString directory, const QString& prefix, bool includeDate, QString format,
           const RetroRenameOptions& options)
        : m_directory(std::move(directory))
        , m_prefix(prefix)
        , m_includeDate(includeDate)
        , m_format(std::move(format))
        , m_options(options)
    {
    }

    bool place(const PlannedFile& file, PreparedPlacement& prepared)
    {
        QString date;
        if (m_includeDate)
            date = (m_options.dateOf ? m_options.dateOf(file.path) : fileDateString(file.path))
                       .value_or(QString());
        const QString base = numberedNameBase(m_prefix, date, m_format);
        PlaceResult result = PlaceResult::targetExists;
        for (int attempt = 0; result == PlaceResult::targetExists && attempt < kMaxNameAttempts; ++attempt) {
            const QString target = nextFreeName(base);
            if (m_options.ownOutputs)
                m_options.ownOutputs->add(target);
            result = prepared.commit(target);
        }
        return isPlaced(result);
    }

private:
    QString nextFreeName(const QString& base)
    {
        QString candidate;
        do {
            candidate = joinPath(m_directory,
                                 base + u'_' + QStringLiteral("%1").arg(m_number, 3, 10, QLatin1Char('0')) +
                                     u'.' + m_format);
            ++m_number;
        } while (pathExists(candidate));
        return candidate;
    }

    QString m_directory;
    QString m_prefix;
    bool m_includeDate;
    QString m_format;
    const RetroRenameOptions& m_options;
    qint64 m_number = 1;
};

bool stopRequested(const RetroRenameOptions& options)
{
    return options.stop && options.stop->load(std::memory_order_relaxed);
}

// Workers prepare the files ahead of the calling thread, which places them one after another in
// order. At most `window` files are ahead, so only a few images are decoded, and a few converted
// files wait on disk, at any moment.
int placeInParallel(const std::vector<PlannedFile>& files, const QString& format, int threads, Placer& placer,
                    const RetroRenameOptions& options)
{
    const std::size_t window = 2 * std::size_t(threads);
    std::vector<std::optional<PreparedPlacement>> prepared(files.size());
    std::mutex mutex;
    std::condition_variable preparedOne;
    QThreadPool workers;
    workers.setMaxThreadCount(threads);

    std::size_t started = 0;
    const auto startUpTo = [&](std::size_t limit) {
        for (; started < std::min(limit, files.size()); ++started) {
            if (files[started].keepsBytes)
                continue; // moved at its turn: nothing to prepare ahead
            startOn(workers, [&, i = started] {
                PreparedPlacement result = stopRequested(options) ? PreparedPlacement(PlaceResult::unreadable)
                                                                  : prepareFile(files[i], format);
                // Notified under the lock, so the worker is done with the condition once the
                // placing thread, which destroys it at the end, can take the lock.
                const std::lock_guard lock(mutex);
                prepared[i].emplace(std::move(result));
                preparedOne.notify_all();
            });
        }
    };

    int renamed = 0;
    for (std::size_t i = 0; i < files.size() && !stopRequested(options); ++i) {
        startUpTo(i + window);
        if (options.progress)
            options.progress(int(i) + 1, int(files.size()));
        std::optional<PreparedPlacement> current;
        if (files[i].keepsBytes) {
            current.emplace(prepareMove(files[i].path));
        } else {
            std::unique_lock lock(mutex);
            preparedOne.wait(lock, [&] { return prepared[i].has_value(); });
            current.emplace(std::move(*prepared[i]));
            prepared[i].reset();
        }
        renamed += placer.place(files[i], *current) ? 1 : 0;
    }
    // Files prepared but not placed (after a stop) lose only their temporary copies. Taking the lock
    // once more orders every worker's last step before what is destroyed here.
    workers.waitForDone();
    const std::lock_guard lock(mutex);
    return renamed;
}

} // namespace

void RetroRenameBook::fillSnapshot(const QList<FolderConfig>& folders)
{
    if (!committedRenameSnapshot.isEmpty())
        return;
    for (const FolderConfig& folder : folders)
        recordAddedFolder(folder);
}

void RetroRenameBook::recordAddedFolder(const FolderConfig& folder)
{
    committedRenameSnapshot.insert(folder.id, {folder.prefix, folder.includeDate, folder.fileFormat});
}

bool RetroRenameBook::hasUncommittedRenameChange(const FolderConfig& folder) const
{
    if (isStandardFolderName(folder.name) || !folder.isRenamingEnabled)
        return false;
    const auto entry = committedRenameSnapshot.constFind(folder.id);
    if (entry == committedRenameSnapshot.cend())
        return false;
    return *entry != RenameSnapshot{folder.prefix, folder.includeDate, folder.fileFormat};
}

void RetroRenameBook::commitRenameChange(const QUuid& folderID, const QList<FolderConfig>& folders)
{
    const auto folder = std::find_if(folders.cbegin(), folders.cend(),
                                     [&](const FolderConfig& f) { return f.id == folderID; });
    if (folder == folders.cend())
        return;
    pendingRetroRenames.removeIf([&](const RetroRenameJob& job) { return job.folderID == folderID; });
    pendingRetroRenames.append({folderID, folder->prefix, folder->includeDate, folder->fileFormat});
    recordAddedFolder(*folder);
}

QList<RetroRenameJob> RetroRenameBook::takePendingJobs()
{
    return std::exchange(pendingRetroRenames, {});
}

ModalAlert renameConfirmation(const QString& folderName)
{
    return ModalAlert{
        QStringLiteral("Rename existing files?"),
        QStringLiteral("This will rename existing screenshots in \"") + folderName +
            QStringLiteral("\" using your current settings."),
        {QStringLiteral("Rename Files"), QStringLiteral("Cancel")},
    };
}

std::optional<QString> fileDateString(const QString& path)
{
    const std::optional<qint64> seconds = creationOrModificationTime(path);
    if (!seconds)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*seconds).toString(QStringLiteral("yyyy-MM-dd"));
}

RetroRenameResult renameExistingFiles(const QUrl& directoryUrl, const QString& prefix, bool includeDate,
                                      const QString& format, const RetroRenameOptions& options)
{
    const QString directory = directoryUrl.toLocalFile();
    if (directory.isEmpty())
        return {};
    DirectoryListing listing =
        listFilesWithExtensions(directory, {QByteArrayLiteral("png"), QByteArrayLiteral("jpg"),
                                            QByteArrayLiteral("jpeg"), QByteArrayLiteral("pdf")});
    if (!listing.ok)
        return {};

    // A listing comes in no meaningful order: the files are taken as they were made, oldest first,
    // so the numbers follow the order the screenshots were taken in. Files of no known time go last.
    std::vector<std::pair<DirectoryEntry, QByteArray>> entries;
    entries.reserve(listing.entries.size());
    for (DirectoryEntry& entry : listing.entries) {
        QByteArray bytes = toNativePath(entry.name);
        entries.emplace_back(std::move(entry), std::move(bytes));
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const auto& at = a.first.creationTimeNs;
        const auto& bt = b.first.creationTimeNs;
        if (at.has_value() != bt.has_value())
            return at.has_value();
        if (at && *at != *bt)
            return *at < *bt;
        return a.second < b.second;
    });

    const QString kind = format.toLower();
    std::vector<PlannedFile> files;
    files.reserve(entries.size());
    for (const auto& [entry, bytes] : entries) {
        const QString extension = lowerExtension(entry.name);
        files.push_back({joinPath(directory, entry.name), extension,
                         extension == kind || (extension == u"jpeg" && kind == u"jpg")});
    }

    RetroRenameResult result;
    result.total = int(files.size());
    Placer placer(directory, prefix, includeDate, kind, options);
    const int threads = options.threads > 0 ? options.threads : std::max(1, QThread::idealThreadCount());
    if (threads > 1) {
        result.renamed = placeInParallel(files, kind, threads, placer, options);
        return result;
    }
    for (std::size_t i = 0; i < files.size() && !stopRequested(options); ++i) {
        if (options.progress)
            options.progress(int(i) + 1, result.total);
        PreparedPlacement prepared = prepareFile(files[i], kind);
        result.renamed += placer.place(files[i], prepared) ? 1 : 0;
    }
    return result;
}

void applyRetroRenames(const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& folders,
                       const RetroRenameOptions& options, const RetroRenameObserver& observer)
{
    for (const RetroRenameJob& job : jobs) {
        if (stopRequested(options))
            return;
        const auto folder = std::find_if(folders.cbegin(), folders.cend(),
                                         [&](const FolderConfig& f) { return f.id == job.folderID; });
        if (folder == folders.cend() || isStandardFolderName(folder->name))
            continue;
        const QUrl directory = configDirectoryURL(*folder);
        RetroRenameOptions forFolder = options;
        if (observer.progress) {
            forFolder.progress = [&](int current, int total) {
                if (options.progress)
                    options.progress(current, total);
                observer.progress(*folder, current, total);
            };
        }
        // The job's values, as they were committed, not the folder's current ones.
        const RetroRenameResult result =
            renameExistingFiles(directory, job.prefix, job.includeDate, job.format, forFolder);
        if (observer.finished)
            observer.finished(*folder, directory, result);
    }
}

} // namespace quillary
