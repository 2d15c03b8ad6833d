#pragma once

#include <QString>

#include <optional>
#include <sys/stat.h>

namespace quillary {

// The file a move or conversion takes from, opened once. Everything read of it comes through this
// one descriptor, and its name is removed only while it still names the very file that was read:
// a tool that saves a newer version over the name (a new file renamed over it, or the old one
// rewritten) must find its version still there afterwards.
class SourceFile final {
public:
    enum class Removal {
        removed,
        changed, // the name stands for another file or none now, or the file was written to after opening
        failed,  // the folder does not allow it
    };

    // A regular file opened for reading, or nothing; a symbolic link is not followed, so it gives nothing.
    static std::optional<SourceFile> open(const QString& path);

    SourceFile(SourceFile&& other) noexcept;
    SourceFile& operator=(SourceFile&&) = delete;
    ~SourceFile();

    int fd() const { return m_fd; }
    const struct stat& identity() const { return m_identity; }

    // Removes the name if it still names the file read: same device and inode, and the size and
    // modification time it had when it was opened. There is no "unlink if still this inode" call, so a
    // replacement in the microseconds between the check and the removal would still be lost.
    Removal removeIfUnchanged() const;

private:
    SourceFile(int fd, QString path, const struct stat& identity);

    int m_fd = -1;
    QString m_path;
    struct stat m_identity {};
};

} // namespace quillary
