#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quillary {

class ByteSource;

// The eight bytes every PNG file starts with.
inline constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
inline constexpr std::uint32_t kMaxPngChunkLength = 0x7fffffff;

bool hasPngSignature(QByteArrayView bytes);

// Where one chunk lies: its length field at `offset`, then its type, its data and its CRC.
struct PngChunk {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    std::array<char, 4> type{};

    bool is(std::string_view name) const { return std::string_view(type.data(), type.size()) == name; }
    // A decoder has to understand every critical chunk to show the image right.
    bool isCritical() const { return (type[0] & 0x20) == 0; }
    std::uint64_t dataOffset() const { return offset + 8; }
    std::uint64_t end() const { return offset + 12 + length; }
};

// Walks the chunks that follow the signature (which it does not check), reading only each one's
// length and type. The walk ends at the end of the source, or at a chunk that does not fit whole
// (CRC included) or whose length is over 2^31-1.
class PngChunkWalker {
public:
    explicit PngChunkWalker(const ByteSource& source)
        : m_source(source)
    {
    }
    std::optional<PngChunk> next();

private:
    const ByteSource& m_source;
    std::uint64_t m_pos = kPngSignature.size();
};

// How far a PNG is written, judged by walking its chunks: complete once a whole, well-formed IEND
// chunk is reached, whatever follows it. A chunk that runs past the end, or whose length is over
// 2^31-1, means unfinished. CRCs other than IEND's are not checked.
enum class PngFileEnd {
    unreadable, // cannot be opened or read
    notPng,     // its first bytes are not (the start of) the PNG signature
    unfinished, // a PNG, or the start of one, without its IEND chunk
    complete,
};
PngFileEnd pngFileEnd(const ByteSource& source);
// The same for the file at `path`, opened by its native name; only the chunk heads are read.
PngFileEnd pngFileEnd(const QString& path);

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bitDepth = 0;
    std::uint8_t colourType = 0; // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    bool interlaced = false;
};

// The parts of a PNG needed to place its pixels elsewhere without decoding them. The views point
// into the bytes given to readPngChunks.
struct PngChunks {
    PngHeader header;
    QByteArrayView palette;            // PLTE data, empty when there is none
    bool hasTransparencyChunk = false; // a tRNS chunk makes some pixels transparent
    std::uint32_t pixelsPerMetreX = 0; // from pHYs when its unit is the metre, otherwise 0
    std::uint32_t pixelsPerMetreY = 0;
    std::vector<QByteArrayView> imageData; // the IDAT payloads in order: one zlib stream together
};

// The chunks of a whole PNG file, or nullopt when it is not one that could be decoded completely:
// no signature, a bad IHDR, a chunk that runs past the end or fails its CRC, IDAT chunks that are
// not one contiguous run, a missing palette, an unknown critical chunk, or no IEND.
std::optional<PngChunks> readPngChunks(QByteArrayView file);

} // namespace quillary
