#include "imaging/JpegMarkers.h"

#include <cstring>

namespace quillary {

std::optional<JpegMarker> JpegMarkerWalker::next()
{
    const auto byte = [this](qsizetype at) { return std::uint8_t(m_bytes[at]); };
    const qsizetype size = m_bytes.size();
    if (m_ended)
        return std::nullopt;
    m_ended = true; // until a marker is found
    if (m_pos == 0) {
        if (size < 2 || byte(0) != 0xff || byte(1) != jpeg::kSoi)
            return std::nullopt;
        m_pos = 2;
        m_ended = false;
        return JpegMarker{jpeg::kSoi, 0, {}};
    }
    std::uint8_t code = 0;
    for (;;) {
        const void* found =
            m_pos < size ? std::memchr(m_bytes.data() + m_pos, 0xff, std::size_t(size - m_pos)) : nullptr;
        if (!found)
            return std::nullopt;
        m_pos = static_cast<const char*>(found) - m_bytes.data();
        while (m_pos + 1 < size && byte(m_pos + 1) == 0xff)
            ++m_pos; // fill bytes
        if (m_pos + 1 >= size)
            return std::nullopt;
        code = byte(m_pos + 1);
        // A stuffed zero byte, a restart marker (RST0–RST7) or TEM: no segment of their own.
        if (code != 0x00 && code != 0x01 && (code < 0xd0 || code > 0xd7))
            break;
        m_pos += 2;
    }
    JpegMarker marker{code, m_pos, {}};
    if (code == jpeg::kSoi || code == jpeg::kEoi) {
        m_pos += 2;
        m_ended = code == jpeg::kEoi;
        return marker;
    }
    if (size - m_pos < 4)
        return std::nullopt;
    const qsizetype length = qsizetype(byte(m_pos + 2)) << 8 | byte(m_pos + 3);
    if (length < 2 || size - m_pos - 2 < length)
        return std::nullopt;
    marker.segment = m_bytes.sliced(m_pos + 4, length - 2);
    m_pos += 2 + length;
    m_ended = false;
    return marker;
}

bool isJpeg(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView("\xff\xd8\xff", 3));
}

bool jpegIsComplete(QByteArrayView bytes)
{
    JpegMarkerWalker walker(bytes);
    bool scanned = false;
    while (const auto marker = walker.next()) {
        if (marker->code == jpeg::kEoi)
            return scanned;
        scanned = scanned || marker->code == jpeg::kSos;
    }
    return false;
}

} // namespace quillary
