#include "imaging/PngChunks.h"

#include "imaging/FileBytes.h"

#include <zlib.h>

#include <algorithm>

namespace quillary {

namespace {

// Length, type and CRC around each chunk's data.
constexpr std::uint64_t kChunkOverhead = 12;
constexpr std::array<std::uint8_t, 12> kIendChunk{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
constexpr qsizetype kIhdrLength = 13;
constexpr qsizetype kPhysLength = 9;
constexpr qsizetype kMaxPaletteEntries = 256;

std::uint32_t readBigEndian32(const void* at)
{
    const auto* bytes = static_cast<const unsigned char*>(at);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           std::uint32_t{bytes[3]};
}

bool validBitDepth(std::uint8_t colourType, std::uint8_t depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

std::optional<PngHeader> parseHeader(QByteArrayView data)
{
    if (data.size() != kIhdrLength)
        return std::nullopt;
    PngHeader header;
    header.width = readBigEndian32(data.data());
    header.height = readBigEndian32(data.data() + 4);
    header.bitDepth = static_cast<std::uint8_t>(data[8]);
    header.colourType = static_cast<std::uint8_t>(data[9]);
    const auto compression = data[10];
    const auto filter = data[11];
    const auto interlace = data[12];
    if (header.width == 0 || header.height == 0 || header.width > kMaxPngChunkLength ||
        header.height > kMaxPngChunkLength || !validBitDepth(header.colourType, header.bitDepth) ||
        compression != 0 || filter != 0 || (interlace != 0 && interlace != 1))
        return std::nullopt;
    header.interlaced = interlace == 1;
    return header;
}

} // namespace

bool hasPngSignature(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView(kPngSignature));
}

std::optional<PngChunk> PngChunkWalker::next()
{
    const std::uint64_t size = m_source.size();
    std::array<std::uint8_t, 8> head{};
    if (m_pos > size || size - m_pos < kChunkOverhead || !m_source.read(m_pos, head))
        return std::nullopt;
    PngChunk chunk{m_pos, readBigEndian32(head.data()), {}};
    std::copy_n(head.begin() + 4, 4, chunk.type.begin());
    if (chunk.length > kMaxPngChunkLength || size - m_pos - kChunkOverhead < chunk.length)
        return std::nullopt;
    m_pos = chunk.end();
    return chunk;
}

PngFileEnd pngFileEnd(const ByteSource& source)
{
    std::array<std::uint8_t, kPngSignature.size()> signature{};
    const auto signatureSize = std::size_t(std::min<std::uint64_t>(source.size(), signature.size()));
    if (!source.read(0, std::span(signature).first(signatureSize)))
        return PngFileEnd::unreadable;
    if (!std::equal(signature.begin(), signature.begin() + signatureSize, kPngSignature.begin()))
        return PngFileEnd::notPng;

    // Whatever follows IEND is not part of the image and does not matter.
    PngChunkWalker walker(source);
    while (const auto chunk = walker.next()) {
        if (chunk->is("IEND")) {
            std::array<std::uint8_t, kIendChunk.size()> iend{};
            return source.read(chunk->offset, iend) && iend == kIendChunk ? PngFileEnd::complete
                                                                          : PngFileEnd::unfinished;
        }
    }
    return PngFileEnd::unfinished;
}

PngFileEnd pngFileEnd(const QString& path)
{
    const FileBytes file(path);
    return file.isOpen() ? pngFileEnd(file) : PngFileEnd::unreadable;
}

std::optional<PngChunks> readPngChunks(QByteArrayView file)
{
    if (!hasPngSignature(file))
        return std::nullopt;
    PngChunks png;
    bool seenHeader = false;
    bool imageDataEnded = false;
    const MemoryBytes source(file);
    PngChunkWalker walker(source);
    while (const auto chunk = walker.next()) {
        const QByteArrayView typeAndData =
            file.sliced(qsizetype(chunk->offset) + 4, 4 + qsizetype{chunk->length});
        const QByteArrayView data = typeAndData.sliced(4);
        const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                 static_cast<z_size_t>(typeAndData.size()));
        if (crc != readBigEndian32(typeAndData.data() + typeAndData.size()))
            return std::nullopt;

        if (!seenHeader) {
            const auto header = chunk->is("IHDR") ? parseHeader(data) : std::nullopt;
            if (!header)
                return std::nullopt;
            png.header = *header;
            seenHeader = true;
            continue;
        }
        if (chunk->is("IDAT")) {
            if (imageDataEnded)
                return std::nullopt;
            png.imageData.push_back(data);
            continue;
        }
        imageDataEnded = !png.imageData.empty();
        if (chunk->is("IEND")) {
            const bool needsPalette = png.header.colourType == 3;
            if (png.imageData.empty() || (needsPalette && png.palette.isEmpty()))
                return std::nullopt;
            return png;
        }
        if (chunk->is("PLTE")) {
            const bool allowed = png.header.colourType != 0 && png.header.colourType != 4;
            if (!allowed || imageDataEnded || !png.palette.isEmpty() || data.isEmpty() ||
                data.size() % 3 != 0 || data.size() / 3 > kMaxPaletteEntries)
                return std::nullopt;
            png.palette = data;
        } else if (chunk->is("tRNS")) {
            png.hasTransparencyChunk = true;
        } else if (chunk->is("pHYs")) {
            if (data.size() == kPhysLength && data[8] == 1) {
                png.pixelsPerMetreX = readBigEndian32(data.data());
                png.pixelsPerMetreY = readBigEndian32(data.data() + 4);
            }
        } else if (chunk->isCritical()) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace quillary
