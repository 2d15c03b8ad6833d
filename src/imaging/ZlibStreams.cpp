#include "imaging/ZlibStreams.h"

#include <algorithm>
#include <memory>

namespace quillary {

bool inflatesToWholeRows(const PngChunks& png)
{
    const PngHeader& header = png.header;
    const int samples = header.colourType == 2 ? 3 : 1;
    const quint64 rowSize = 1 + (quint64(header.width) * quint64(samples * header.bitDepth) + 7) / 8;
    const quint64 expected = rowSize * header.height;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, &inflateEnd);
    constexpr uInt kBufferSize = 64 * 1024;
    const std::unique_ptr<Bytef[]> buffer(new Bytef[kBufferSize]);
    quint64 produced = 0;
    bool ended = false;
    for (const QByteArrayView piece : png.imageData) {
        if (ended) {
            if (!piece.isEmpty())
                return false; // data after the end of the stream
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        stream.avail_in = uInt(piece.size());
        do {
            stream.next_out = buffer.get();
            stream.avail_out = kBufferSize;
            const int status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return false; // damaged data, a wrong checksum, or a preset dictionary
            const quint64 got = kBufferSize - stream.avail_out;
            if (produced + got > expected)
                return false;
            // The filter type of every row that starts within what was just inflated.
            for (quint64 at = (rowSize - produced % rowSize) % rowSize; at < got; at += rowSize) {
                if (buffer[at] > 4)
                    return false;
            }
            produced += got;
            ended = status == Z_STREAM_END;
        } while (!ended && (stream.avail_in > 0 || stream.avail_out == 0));
        if (ended && stream.avail_in > 0)
            return false;
    }
    return ended && produced == expected;
}

Deflater::Deflater(int level)
{
    m_ok = deflateInit(&m_stream, level) == Z_OK;
}

Deflater::~Deflater()
{
    deflateEnd(&m_stream);
}

std::optional<QByteArray> Deflater::finish()
{
    run(nullptr, 0, Z_FINISH);
    if (!m_ok)
        return std::nullopt;
    m_out.resize(qsizetype(m_stream.total_out));
    return std::move(m_out);
}

void Deflater::run(const uchar* data, qsizetype size, int flush)
{
    m_stream.next_in = const_cast<Bytef*>(data);
    m_stream.avail_in = uInt(size);
    int status = Z_OK;
    while (m_ok && (m_stream.avail_in > 0 || (flush == Z_FINISH && status != Z_STREAM_END))) {
        const auto used = qsizetype(m_stream.total_out);
        if (m_out.size() - used < 64 * 1024)
            m_out.resize(std::max<qsizetype>(m_out.size() * 2, 256 * 1024));
        m_stream.next_out = reinterpret_cast<Bytef*>(m_out.data() + used);
        m_stream.avail_out = uInt(m_out.size() - used);
        status = deflate(&m_stream, flush);
        m_ok = status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR;
    }
}

} // namespace quillary
