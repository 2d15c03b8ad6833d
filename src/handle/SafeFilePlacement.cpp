// Plain POSIX calls only, the same on every Unix; renaming goes through platform/FileSystem.h.
#include "handle/SafeFilePlacement.h"

#include "core/FileNames.h"
#include "platform/FileSystem.h"

#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillary {
namespace {

// The folder part of a path and its last component, split on bytes so no name is altered.
std::pair<QByteArray, QByteArray> splitPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {".", path};
    return {slash == 0 ? QByteArray("/") : path.left(slash), path.mid(slash + 1)};
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
        if (written <= 0) {
            if (written == 0)
                errno = EIO; // no progress and no reason given
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// Why a write, sync or create failed, from its errno: a full disk is told apart from a folder that
// refused.
PlaceResult writeFailure(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? PlaceResult::noSpace
                                                                : PlaceResult::unwritable;
}

// Writes straight to a descriptor, remembering whether a write failed and why, so a writer that gives
// up can be told apart from a disk that refused.
class DescriptorOutput final : public QIODevice {
public:
    explicit DescriptorOutput(int fd)
        : m_fd(fd)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (m_error == 0 && !writeAll(m_fd, data, std::size_t(size)))
            m_error = errno;
        return failed() ? -1 : size;
    }

private:
    int m_fd;
    int m_error = 0;
};

// Copies everything from the start of `in`, without moving its offset, to `out`.
PlaceResult copyContent(int in, int out)
{
    constexpr std::size_t kChunk = 1 << 20;
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (off_t offset = 0;;) {
        const ssize_t got = pread(in, buffer.get(), kChunk, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return PlaceResult::unreadable;
        if (got == 0)
            return PlaceResult::placed;
        if (!writeAll(out, buffer.get(), std::size_t(got)))
            return writeFailure(errno);
        offset += got;
    }
}

// Our temporary files: "." + the target's name + ".quillary-" + six of these letters.
constexpr char kTemporaryMark[] = ".quillary-";
constexpr int kTemporaryMarkSize = sizeof kTemporaryMark - 1;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kRandomLetters = 6;

bool isTemporaryName(QByteArrayView name)
{
    const qsizetype markAt = name.size() - kRandomLetters - kTemporaryMarkSize;
    if (markAt < 2 || name.front() != '.' || name.sliced(markAt, kTemporaryMarkSize) != kTemporaryMark)
        return false;
    for (const char c : name.last(kRandomLetters)) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

} // namespace

// A hidden file next to the target, removed again unless it was placed. It stays open, under an
// exclusive flock, for as long as this object lives: a file of ours that nobody holds was left by a
// writer that died and may be removed by removeStaleTemporaryFiles.
class TemporaryFile final {
public:
    static std::unique_ptr<TemporaryFile> create(const QString& target, mode_t mode)
    {
        const auto [folder, name] = splitPath(toNativePath(target));
        // Names stay under the 255-byte limit however long the target's is, cut between characters.
        const QByteArray stem =
            folder + "/." + toNativePath(truncatedToNativeBytes(fromNativePath(name), 200)) + kTemporaryMark;
        for (int attempt = 0; attempt < 100; ++attempt) {
            QByteArray path = stem;
            for (int i = 0; i < kRandomLetters; ++i)
                path += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
            const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0)
                return nullptr;
            auto file = std::unique_ptr<TemporaryFile>(new TemporaryFile(fd, path, folder));
            // Only a clean-up that found the file in the instant before the lock can have taken it, and
            // then removes it: take another name. A filesystem without locks leaves the file unlocked,
            // and the clean-up, unable to lock it either, leaves it alone.
            if (flock(fd, LOCK_EX | LOCK_NB) != 0 ? errno == EWOULDBLOCK : !file->isAt(path))
                continue;
            return file;
        }
        return nullptr;
    }

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    ~TemporaryFile()
    {
        // Removed while still locked, so a clean-up never sees it unheld.
        if (!m_path.isEmpty())
            unlink(m_path.constData());
        close(m_fd);
    }

    int fd() const { return m_fd; }

    // Whether `path` names this file.
    bool isAt(const QByteArray& path) const
    {
        struct stat mine {};
        struct stat named {};
        return fstat(m_fd, &mine) == 0 && lstat(path.constData(), &named) == 0 &&
               named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
    }

    // Flushes the content to the disk. The file stays open, and locked, until this object goes.
    bool sync() { return fsync(m_fd) == 0; }

    // Gives the synced file the target's name, unless something is there already.
    PlaceResult placeAs(const QByteArray& target)
    {
        switch (renameNoReplace(m_path, target)) {
        case RenameOutcome::placed:
            m_path.clear();
            syncFolder(m_folder);
            return PlaceResult::placed;
        case RenameOutcome::exists:
            return PlaceResult::targetExists;
        case RenameOutcome::crossDevice:
        case RenameOutcome::failed:
            break;
        }
        return PlaceResult::unwritable;
    }

    // Removes the placed file from `target` again, if that name still stands for it.
    void takeBack(const QByteArray& target)
    {
        if (isAt(target))
            unlink(target.constData());
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

bool isPlaced(PlaceResult result)
{
    return result == PlaceResult::placed || result == PlaceResult::sourceKept;
}

QString failureReason(PlaceResult result)
{
    switch (result) {
    case PlaceResult::placed:
    case PlaceResult::sourceKept:
        break;
    case PlaceResult::targetExists:
        return QStringLiteral("a file with that name already exists");
    case PlaceResult::unreadable:
        return QStringLiteral("the file could not be read");
    case PlaceResult::undecodable:
        return QStringLiteral("the file could not be decoded");
    case PlaceResult::unsupportedFormat:
        return QStringLiteral("the file format is not supported");
    case PlaceResult::unwritable:
        return QStringLiteral("the target folder could not be written");
    case PlaceResult::noSpace:
        return QStringLiteral("there is no room for it on the disk");
    case PlaceResult::sourceNotRemovable:
        return QStringLiteral("the file could not be removed from its folder");
    case PlaceResult::notRegularFile:
        return QStringLiteral("it is a link or not a regular file");
    }
    return {};
}

PreparedPlacement::PreparedPlacement(PlaceResult failure)
    : m_failure(failure)
{
}

PreparedPlacement::PreparedPlacement(QString sourcePath, std::optional<SourceFile> source, bool isMove)
    : m_sourcePath(std::move(sourcePath))
    , m_source(std::move(source))
    , m_isMove(isMove)
{
}

PreparedPlacement::PreparedPlacement(PreparedPlacement&&) noexcept = default;
PreparedPlacement::~PreparedPlacement() = default;

PlaceResult PreparedPlacement::commit(const QString& target)
{
    if (m_failure)
        return *m_failure;
    const QByteArray targetPath = toNativePath(target);
    if (m_isMove && !m_content) {
        const QByteArray sourcePath = toNativePath(m_sourcePath);
        switch (renameNoReplace(sourcePath, targetPath)) {
        case RenameOutcome::placed:
            syncFolder(splitPath(targetPath).first);
            return PlaceResult::placed;
        case RenameOutcome::exists:
            return PlaceResult::targetExists;
        case RenameOutcome::crossDevice:
            break;
        case RenameOutcome::failed: {
            // The error does not tell which folder refused; the source's own state tells most apart.
            struct stat info {};
            if (lstat(sourcePath.constData(), &info) != 0)
                return PlaceResult::unreadable;
            return access(splitPath(sourcePath).first.constData(), W_OK | X_OK) != 0
                       ? PlaceResult::sourceNotRemovable
                       : PlaceResult::unwritable;
        }
        }
        if (const PlaceResult copied = copyAcross(target); copied != PlaceResult::placed)
            return copied;
    }

    const PlaceResult placed = m_content->placeAs(targetPath);
    if (placed != PlaceResult::placed)
        return placed;
    switch (m_source->removeIfUnchanged()) {
    case SourceFile::Removal::removed:
        return PlaceResult::placed;
    case SourceFile::Removal::changed:
        // A newer file took the source's name, or it is gone: what was read stays placed.
        return PlaceResult::sourceKept;
    case SourceFile::Removal::failed:
        break;
    }
    if (!m_isMove)
        return PlaceResult::sourceKept; // the converted copy is complete: the source is left, not lost
    // The source cannot go, so the move did not happen.
    m_content->takeBack(targetPath);
    m_content.reset();
    return PlaceResult::sourceNotRemovable;
}

PlaceResult PreparedPlacement::copyAcross(const QString& target)
{
    if (!m_source)
        return PlaceResult::unreadable;
    const struct stat& info = m_source->identity();
    auto copy = TemporaryFile::create(target, info.st_mode & 0777);
    if (!copy)
        return writeFailure(errno);
    if (const PlaceResult copied = copyContent(m_source->fd(), copy->fd()); copied != PlaceResult::placed)
        return copied;
    struct stat copyInfo {};
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (futimens(copy->fd(), times) != 0 || fstat(copy->fd(), &copyInfo) != 0 || !copy->sync())
        return writeFailure(errno);
    if (copyInfo.st_size != info.st_size)
        return PlaceResult::unreadable; // the source changed size while it was copied
    m_content = std::move(copy);
    return PlaceResult::placed;
}

namespace {

// Whether something other than a regular file lies at `path` itself (a link is not followed).
bool isOtherThanRegularFile(const QString& path)
{
    struct stat info {};
    return lstat(toNativePath(path).constData(), &info) == 0 && !S_ISREG(info.st_mode);
}

} // namespace

PreparedPlacement prepareMove(const QString& source)
{
    // A regular file that cannot be opened can still be renamed; only a copy needs to read it.
    std::optional<SourceFile> input = SourceFile::open(source);
    if (!input && isOtherThanRegularFile(source))
        return PreparedPlacement(PlaceResult::notRegularFile);
    return PreparedPlacement(source, std::move(input), true);
}

PreparedPlacement prepareWrite(const QString& source, const QString& target, const ContentWriter& writer)
{
    std::optional<SourceFile> input = SourceFile::open(source);
    if (!input)
        return PreparedPlacement(isOtherThanRegularFile(source) ? PlaceResult::notRegularFile
                                                                : PlaceResult::unreadable);
    auto temp = TemporaryFile::create(target, 0666);
    if (!temp)
        return PreparedPlacement(writeFailure(errno));
    DescriptorOutput output(temp->fd());
    const bool written = writer(input->fd(), output);
    if (output.failed())
        return PreparedPlacement(writeFailure(output.error()));
    if (!temp->sync())
        return PreparedPlacement(writeFailure(errno));
    if (!written)
        return PreparedPlacement(PlaceResult::undecodable);
    PreparedPlacement prepared(source, std::move(input), false);
    prepared.m_content = std::move(temp);
    return prepared;
}

PlaceResult moveNoReplace(const QString& source, const QString& target)
{
    return prepareMove(source).commit(target);
}

NewFile writeNewFile(const QString& folder, QByteArrayView content,
                     const std::function<QString(int attempt)>& nameFor, int maxAttempts,
                     const std::function<void(const QString& path)>& beforePlacing)
{
    if (maxAttempts < 1)
        return {};
    auto file = TemporaryFile::create(joinPath(folder, nameFor(1)), 0666);
    if (!file || !writeAll(file->fd(), content.data(), std::size_t(content.size())) || !file->sync())
        return {};
    for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
        const QString target = joinPath(folder, nameFor(attempt));
        if (beforePlacing)
            beforePlacing(target);
        switch (const PlaceResult placed = file->placeAs(toNativePath(target))) {
        case PlaceResult::placed:
            return {placed, target};
        case PlaceResult::targetExists:
            continue;
        default:
            return {placed, {}};
        }
    }
    return {PlaceResult::targetExists, {}};
}

int removeStaleTemporaryFiles(const QStringList& folders)
{
    int removed = 0;
    for (const QString& folder : folders) {
        const int dirFd = open(toNativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            continue;
        // fdopendir owns the descriptor from here.
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(dirFd), &closedir);
        if (!dir) {
            close(dirFd);
            continue;
        }
        while (const dirent* entry = readdir(dir.get())) {
            if (!isTemporaryName(QByteArrayView(entry->d_name)))
                continue;
            struct stat named {};
            if (fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode))
                continue;
            const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat opened {};
            // A live writer holds its lock until the file is placed or removed.
            if (fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino &&
                flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(dirFd, entry->d_name, 0) == 0)
                ++removed;
            close(fd);
        }
    }
    return removed;
}

} // namespace quillary
