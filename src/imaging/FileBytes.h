#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace quillary {

// Bytes read by offset: from memory, or from a file piece by piece as they are asked for, so that a
// walk over a large file reads only what it looks at.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // How many bytes there are to read.
    virtual std::uint64_t size() const = 0;
    // Fills `into` from `offset`; false when that runs past size() or the read fails.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

class MemoryBytes final : public ByteSource {
public:
    explicit MemoryBytes(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes)
    {
    }
    explicit MemoryBytes(QByteArrayView bytes)
        : m_bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), std::size_t(bytes.size()))
    {
    }
    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    std::span<const std::uint8_t> m_bytes;
};

// The file at `path`, opened read-only by its native name (toNativePath), up to `limit` bytes from
// its start. Its size is taken when it is opened. A symbolic link at `path` is not followed: it does
// not open.
class FileBytes final : public ByteSource {
public:
    explicit FileBytes(const QString& path, std::uint64_t limit = UINT64_MAX);
    ~FileBytes() override;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    // False when the file could not be opened or its size not be read.
    bool isOpen() const { return m_fd >= 0; }
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// The whole content behind `fd`, read from its start without moving its offset, or nothing when it
// cannot be read or exceeds `maxSize` bytes.
std::optional<QByteArray> readWholeFile(int fd, qint64 maxSize);

} // namespace quillary
