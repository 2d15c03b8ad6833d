#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <optional>
#include <vector>

namespace quillary {

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

bool hasPngSignature(QByteArrayView bytes);

// The chunks of a whole PNG file, or nullopt when it is not one that could be decoded completely:
// no signature, a bad IHDR, a chunk that runs past the end or fails its CRC, IDAT chunks that are
// not one contiguous run, a missing palette, an unknown critical chunk, or no IEND.
std::optional<PngChunks> readPngChunks(QByteArrayView file);

} // namespace quillary
