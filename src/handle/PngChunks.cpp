#include "handle/PngChunks.h"

#include <zlib.h>

#include <cstring>

namespace quillary {

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype kSignatureSize = 8;
// Length, type and CRC around each chunk's data.
constexpr qsizetype kChunkOverhead = 12;
constexpr std::uint32_t kMaxChunkLength = 0x7fffffff;
constexpr qsizetype kIhdrLength = 13;
constexpr qsizetype kPhysLength = 9;
constexpr qsizetype kMaxPaletteEntries = 256;

std::uint32_t readBigEndian32(const char* at)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
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
    if (header.width == 0 || header.height == 0 || header.width > kMaxChunkLength ||
        header.height > kMaxChunkLength || !validBitDepth(header.colourType, header.bitDepth) ||
        compression != 0 || filter != 0 || (interlace != 0 && interlace != 1))
        return std::nullopt;
    header.interlaced = interlace == 1;
    return header;
}

bool isCritical(QByteArrayView type)
{
    return (type[0] & 0x20) == 0;
}

} // namespace

bool hasPngSignature(QByteArrayView bytes)
{
    return bytes.size() >= kSignatureSize && std::memcmp(bytes.data(), kSignature, kSignatureSize) == 0;
}

std::optional<PngChunks> readPngChunks(QByteArrayView file)
{
    if (!hasPngSignature(file))
        return std::nullopt;
    PngChunks png;
    bool seenHeader = false;
    bool imageDataEnded = false;
    qsizetype pos = kSignatureSize;
    while (file.size() - pos >= kChunkOverhead) {
        const std::uint32_t length = readBigEndian32(file.data() + pos);
        if (length > kMaxChunkLength || file.size() - pos - kChunkOverhead < qsizetype{length})
            return std::nullopt;
        const QByteArrayView typeAndData = file.sliced(pos + 4, 4 + qsizetype{length});
        const QByteArrayView type = typeAndData.first(4);
        const QByteArrayView data = typeAndData.sliced(4);
        const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                 static_cast<z_size_t>(typeAndData.size()));
        if (crc != readBigEndian32(typeAndData.data() + typeAndData.size()))
            return std::nullopt;
        pos += kChunkOverhead + qsizetype{length};

        if (!seenHeader) {
            const auto header = type == "IHDR" ? parseHeader(data) : std::nullopt;
            if (!header)
                return std::nullopt;
            png.header = *header;
            seenHeader = true;
            continue;
        }
        if (type == "IDAT") {
            if (imageDataEnded)
                return std::nullopt;
            png.imageData.push_back(data);
            continue;
        }
        imageDataEnded = !png.imageData.empty();
        if (type == "IEND") {
            const bool needsPalette = png.header.colourType == 3;
            if (png.imageData.empty() || (needsPalette && png.palette.isEmpty()))
                return std::nullopt;
            return png;
        }
        if (type == "PLTE") {
            const bool allowed = png.header.colourType != 0 && png.header.colourType != 4;
            if (!allowed || imageDataEnded || !png.palette.isEmpty() || data.isEmpty() ||
                data.size() % 3 != 0 || data.size() / 3 > kMaxPaletteEntries)
                return std::nullopt;
            png.palette = data;
        } else if (type == "tRNS") {
            png.hasTransparencyChunk = true;
        } else if (type == "pHYs") {
            if (data.size() == kPhysLength && data[8] == 1) {
                png.pixelsPerMetreX = readBigEndian32(data.data());
                png.pixelsPerMetreY = readBigEndian32(data.data() + 4);
            }
        } else if (isCritical(type)) {
            // A decoder has to understand every critical chunk to show the image right.
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace quillary
