#include "handle/SafeFilePlacement.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillary {
namespace {

enum class NameOutcome { placed, exists, crossDevice, failed };

// Gives the file at `from` the name `to` unless something is there; `from` no longer names it after.
// rename() would silently replace, so it is never used for this.
NameOutcome renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return NameOutcome::placed;
    if (errno == EEXIST)
        return NameOutcome::exists;
    if (errno == EXDEV)
        return NameOutcome::crossDevice;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return NameOutcome::failed;
    // A filesystem without the no-replace flag: link() never replaces either.
    if (link(from.constData(), to.constData()) != 0)
        return errno == EEXIST  ? NameOutcome::exists
               : errno == EXDEV ? NameOutcome::crossDevice
                                : NameOutcome::failed;
    if (unlink(from.constData()) != 0) {
        unlink(to.constData()); // the same file under a second name: drop the one just made
        return NameOutcome::failed;
    }
    return NameOutcome::placed;
}

// Whether anything, even a dangling link, has the name. Other errors are left to the placement itself.
bool pathExists(const QByteArray& path)
{
    struct stat info {};
    return lstat(path.constData(), &info) == 0;
}

// Makes what was placed in `folder` last through a crash. Best effort: some filesystems cannot sync a
// folder, and the file itself was synced before it was placed.
void syncFolder(const QByteArray& folder)
{
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

bool copyContent(int in, int out)
{
    constexpr std::size_t kChunk = 1 << 20;
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t got = read(in, buffer.get(), kChunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!writeAll(out, buffer.get(), std::size_t(got)))
            return false;
    }
}

// A hidden file next to the target, removed again unless it was placed.
class TemporaryFile final {
public:
    static std::optional<TemporaryFile> create(const QString& target, mode_t mode)
    {
        const QFileInfo info(target);
        const QByteArray folder = QFile::encodeName(info.absolutePath());
        // Names stay under the 255-byte limit however long the target's is.
        const QByteArray stem = folder + "/." + QFile::encodeName(info.fileName()).left(200) + ".quillary-";
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            QByteArray path = stem;
            for (int i = 0; i < 6; ++i)
                path += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
            const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0)
                return TemporaryFile(fd, path, folder);
            if (errno != EEXIST)
                return std::nullopt;
        }
        return std::nullopt;
    }

    TemporaryFile(TemporaryFile&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
        , m_path(std::exchange(other.m_path, {}))
        , m_folder(other.m_folder)
    {
    }
    TemporaryFile& operator=(TemporaryFile&&) = delete;

    ~TemporaryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
        if (!m_path.isEmpty())
            unlink(m_path.constData());
    }

    int fd() const { return m_fd; }
    const QByteArray& folder() const { return m_folder; }

    // Flushes the content to the disk and closes the file.
    bool sync()
    {
        const bool synced = fsync(m_fd) == 0;
        const bool closed = close(std::exchange(m_fd, -1)) == 0;
        return synced && closed;
    }

    // Gives the synced file the target's name, unless something is there already.
    PlaceResult placeAs(const QByteArray& target)
    {
        switch (renameNoReplace(m_path, target)) {
        case NameOutcome::placed:
            m_path.clear();
            syncFolder(m_folder);
            return PlaceResult::placed;
        case NameOutcome::exists:
            return PlaceResult::targetExists;
        case NameOutcome::crossDevice:
        case NameOutcome::failed:
            break;
        }
        return PlaceResult::failed;
    }

private:
    TemporaryFile(int fd, QByteArray path, QByteArray folder)
        : m_fd(fd)
        , m_path(std::move(path))
        , m_folder(std::move(folder))
    {
    }

    int m_fd = -1;
    QByteArray m_path; // empty once placed
    QByteArray m_folder;
};

PlaceResult copyAcrossFilesystems(const QByteArray& source, const QString& target)
{
    const QByteArray targetPath = QFile::encodeName(target);
    const int in = open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return PlaceResult::failed;
    const auto closeInput = qScopeGuard([in] { close(in); });
    struct stat sourceInfo {};
    if (fstat(in, &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode))
        return PlaceResult::failed;
    if (pathExists(targetPath))
        return PlaceResult::targetExists;

    auto temp = TemporaryFile::create(target, sourceInfo.st_mode & 0777);
    if (!temp)
        return PlaceResult::failed;
    struct stat copyInfo {};
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    if (!copyContent(in, temp->fd()) || futimens(temp->fd(), times) != 0 ||
        fstat(temp->fd(), &copyInfo) != 0 || copyInfo.st_size != sourceInfo.st_size || !temp->sync())
        return PlaceResult::failed;
    const PlaceResult placed = temp->placeAs(targetPath);
    if (placed != PlaceResult::placed)
        return placed;
    if (unlink(source.constData()) != 0) {
        // The source cannot go, so the move did not happen: take back the copy, if it is still ours.
        struct stat now {};
        if (lstat(targetPath.constData(), &now) == 0 && now.st_dev == copyInfo.st_dev &&
            now.st_ino == copyInfo.st_ino)
            unlink(targetPath.constData());
        return PlaceResult::failed;
    }
    return PlaceResult::placed;
}

} // namespace

PlaceResult moveNoReplace(const QString& source, const QString& target)
{
    const QByteArray sourcePath = QFile::encodeName(source);
    switch (renameNoReplace(sourcePath, QFile::encodeName(target))) {
    case NameOutcome::placed:
        syncFolder(QFile::encodeName(QFileInfo(target).absolutePath()));
        return PlaceResult::placed;
    case NameOutcome::exists:
        return PlaceResult::targetExists;
    case NameOutcome::crossDevice:
        return copyAcrossFilesystems(sourcePath, target);
    case NameOutcome::failed:
        break;
    }
    return PlaceResult::failed;
}

PlaceResult writeNoReplace(const QString& target, const ContentWriter& writer)
{
    const QByteArray targetPath = QFile::encodeName(target);
    if (pathExists(targetPath))
        return PlaceResult::targetExists;
    auto temp = TemporaryFile::create(target, 0666);
    if (!temp)
        return PlaceResult::failed;
    {
        QFile file;
        if (!file.open(temp->fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return PlaceResult::failed;
        if (!writer(file) || !file.flush() || file.error() != QFileDevice::NoError)
            return PlaceResult::failed;
    }
    if (!temp->sync())
        return PlaceResult::failed;
    return temp->placeAs(targetPath);
}

} // namespace quillary
