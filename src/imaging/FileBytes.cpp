#include "imaging/FileBytes.h"

#include "core/FileNames.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillary {
namespace {

// Up to `size` bytes at `offset`, fewer only at the end of the file; -1 on error.
ssize_t readAt(int fd, void* buffer, std::size_t size, off_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count =
            ::pread(fd, static_cast<char*>(buffer) + done, size - done, offset + off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += std::size_t(count);
    }
    return ssize_t(done);
}

} // namespace

bool MemoryBytes::read(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    if (offset > m_bytes.size() || m_bytes.size() - offset < into.size())
        return false;
    std::copy_n(m_bytes.begin() + std::ptrdiff_t(offset), into.size(), into.begin());
    return true;
}

FileBytes::FileBytes(const QString& path, std::uint64_t limit)
    : m_fd(::open(toNativePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW))
{
    struct stat status {};
    if (m_fd >= 0 && ::fstat(m_fd, &status) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_size = std::min(static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0)), limit);
}

FileBytes::~FileBytes()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileBytes::read(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    if (m_fd < 0 || offset > m_size || m_size - offset < into.size())
        return false;
    return readAt(m_fd, into.data(), into.size(), off_t(offset)) == ssize_t(into.size());
}

std::optional<QByteArray> readWholeFile(int fd, qint64 maxSize)
{
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size > maxSize)
        return std::nullopt;
    // What is appended after the size was taken is not read.
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    const ssize_t done = readAt(fd, bytes.data(), std::size_t(bytes.size()), 0);
    if (done < 0)
        return std::nullopt;
    bytes.truncate(qsizetype(done));
    return bytes;
}

} // namespace quillary
