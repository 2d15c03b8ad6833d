#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace quillary {

// Marker codes: the byte after 0xFF.
namespace jpeg {
inline constexpr std::uint8_t kSof0 = 0xc0; // baseline frame
inline constexpr std::uint8_t kDht = 0xc4;
inline constexpr std::uint8_t kDac = 0xcc;
inline constexpr std::uint8_t kSoi = 0xd8;
inline constexpr std::uint8_t kEoi = 0xd9;
inline constexpr std::uint8_t kSos = 0xda;
inline constexpr std::uint8_t kDri = 0xdd;
inline constexpr std::uint8_t kApp0 = 0xe0;
} // namespace jpeg

struct JpegMarker {
    std::uint8_t code = 0;
    qsizetype offset = 0;   // of its 0xFF
    QByteArrayView segment; // what follows the length field; empty for SOI and EOI, which have none

    // Where the marker and its segment end.
    qsizetype end() const
    {
        return offset + (code == jpeg::kSoi || code == jpeg::kEoi ? 2 : 4 + segment.size());
    }
};

// Walks a JPEG's markers the way a decoder meets them: SOI first, each segment skipped by its
// length, the entropy-coded data after SOS skipped up to the next marker (stuffed zero bytes and
// restart markers belong to it), fill bytes and stray bytes between markers passed over. The walk
// ends after EOI, at the end of the bytes, or at a segment that runs past it.
class JpegMarkerWalker {
public:
    explicit JpegMarkerWalker(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }
    std::optional<JpegMarker> next();

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    bool m_ended = false;
};

// Whether `bytes` start with SOI and another marker.
bool isJpeg(QByteArrayView bytes);

// Whether the JPEG is whole: its markers lead from SOI through a scan to EOI. Bytes after EOI do not
// matter. Decoders fill what is missing of a cut-off scan with grey and only warn, so this is the one
// sign of a truncated file.
bool jpegIsComplete(QByteArrayView bytes);

} // namespace quillary
