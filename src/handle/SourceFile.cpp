#include "handle/SourceFile.h"

#include "core/FileNames.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quillary {
namespace {

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

std::optional<SourceFile> SourceFile::open(const QString& path)
{
    // Without O_NONBLOCK a FIFO given a screenshot's name would hold the open until a writer came.
    // O_NOFOLLOW: a link put in the file's place is not read through to what it points at.
    const int fd =
        ::open(toNativePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    struct stat identity {};
    if (fstat(fd, &identity) != 0 || !S_ISREG(identity.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    return SourceFile(fd, path, identity);
}

SourceFile::SourceFile(int fd, QString path, const struct stat& identity)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_identity(identity)
{
}

SourceFile::SourceFile(SourceFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_identity(other.m_identity)
{
}

SourceFile::~SourceFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

SourceFile::Removal SourceFile::removeIfUnchanged() const
{
    const QByteArray path = toNativePath(m_path);
    // A link now in the file's place differs from the file read, and unlink would only remove the link.
    struct stat now {};
    if (lstat(path.constData(), &now) != 0)
        return errno == ENOENT ? Removal::changed : Removal::failed;
    if (!sameFile(now, m_identity))
        return Removal::changed;
    return unlink(path.constData()) == 0 ? Removal::removed : Removal::failed;
}

} // namespace quillary
