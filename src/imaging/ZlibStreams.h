#pragma once

#include "imaging/PngChunks.h"

#include <QByteArray>

#include <optional>

#include <zlib.h>

namespace quillary {

// Whether a PNG's compressed data inflates to exactly the rows its header promises, each starting
// with one of the five filter types, in one zlib stream that ends with the last IDAT chunk. A PDF
// reader takes such data as it is and would show a cut-off or damaged stream as best it can, so
// anything else must be decoded, which refuses what is not whole. Streams through a small buffer:
// nothing of the size of the image is held. Only for non-interlaced images.
bool inflatesToWholeRows(const PngChunks& png);

// Feeds bytes to zlib and collects the compressed stream.
class Deflater final {
public:
    explicit Deflater(int level);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void add(const uchar* data, qsizetype size) { run(data, size, Z_NO_FLUSH); }
    // The whole stream, or nothing when zlib failed on the way.
    std::optional<QByteArray> finish();

private:
    void run(const uchar* data, qsizetype size, int flush);

    z_stream m_stream{};
    QByteArray m_out;
    bool m_ok = false;
};

} // namespace quillary
