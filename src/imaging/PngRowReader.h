#pragma once

#include <QSize>

#include <cstddef>
#include <cstdio>
#include <optional>

struct png_struct_def;
struct png_info_def;

namespace quillary {

// Reads a non-interlaced PNG row by row as 8-bit RGB, or RGBA with straight alpha, so the rows read
// so far can be used while the rest is still being inflated. Any fault in the file, a short one
// included, fails the call that meets it; every chunk's CRC is checked up to IEND.
class PngRowReader final {
public:
    // Reads the file behind `fd` from its start, through a descriptor of its own.
    explicit PngRowReader(int fd);
    ~PngRowReader();
    PngRowReader(const PngRowReader&) = delete;
    PngRowReader& operator=(const PngRowReader&) = delete;

    // Reads up to the pixel data. False for a file that is not a readable PNG, is over the decoding
    // caps, or is interlaced (its rows come whole only with the last pass).
    bool open();

    QSize size() const { return m_size; }
    int bytesPerPixel() const { return m_bytesPerPixel; } // 4 with alpha, else 3
    // The resolution the file states, in dots per metre.
    std::optional<QSize> dotsPerMeter() const { return m_dotsPerMeter; }

    // Reads the next `count` rows into rows `stride` bytes apart.
    bool readRows(unsigned char* first, int count, std::size_t stride);
    // Reads and checks the rest of the file, through IEND. Call after the last row.
    bool finish();

private:
    std::FILE* m_file = nullptr;
    png_struct_def* m_png = nullptr;
    png_info_def* m_info = nullptr;
    bool m_failed = false;
    QSize m_size;
    int m_bytesPerPixel = 0;
    std::optional<QSize> m_dotsPerMeter;
};

} // namespace quillary
