#include "imaging/PngRowReader.h"

#include "imaging/ImageLimits.h"
#include "imaging/PngChunks.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

namespace quillary {
namespace {

[[noreturn]] void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Runs `step` with libpng's errors ending it early: false then. libpng leaves by longjmp, so `step`
// must own nothing that needs destroying.
template <typename Step> bool guarded(png_structp png, const Step& step)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    step();
    return true;
}

} // namespace

PngRowReader::PngRowReader(int fd)
{
    // The duplicate shares the file offset, which only this reader moves.
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return;
    m_file = fdopen(own, "rb");
    if (!m_file || std::fseek(m_file, 0, SEEK_SET) != 0) {
        if (m_file)
            std::fclose(m_file);
        else
            close(own);
        m_file = nullptr;
        return;
    }
    m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (m_png)
        m_info = png_create_info_struct(m_png);
}

PngRowReader::~PngRowReader()
{
    if (m_png)
        png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr);
    if (m_file)
        std::fclose(m_file);
}

bool PngRowReader::open()
{
    if (!m_info || m_failed)
        return false;
    std::array<std::uint8_t, kPngSignature.size()> signature{};
    if (std::fread(signature.data(), 1, signature.size(), m_file) != signature.size() ||
        !hasPngSignature(signature))
        return false;
    int interlace = PNG_INTERLACE_NONE;
    const bool ok = guarded(m_png, [&] {
        png_init_io(m_png, m_file);
        png_set_sig_bytes(m_png, int(signature.size()));
        png_set_user_limits(m_png, kMaxImageSide, kMaxImageSide);
        // libpng reads the ancillary chunks it knows (text, profiles, Exif) whole, allocating and
        // clearing the length the chunk states before reading it: a short file whose text chunk claims
        // a gigabyte would cost that much. Only pHYs of them is used; the others are passed over unkept.
        png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
        static constexpr png_byte kPhys[] = "pHYs";
        png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_AS_DEFAULT, kPhys, 1);
        // The chunk CRCs already cover every byte of the compressed data.
        png_set_option(m_png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
        png_read_info(m_png, m_info);
        m_size = QSize(int(png_get_image_width(m_png, m_info)), int(png_get_image_height(m_png, m_info)));
        interlace = png_get_interlace_type(m_png, m_info);
        const int colorType = png_get_color_type(m_png, m_info);
        if (png_get_bit_depth(m_png, m_info) == 16)
            png_set_scale_16(m_png);
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(m_png);
        if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(m_png, m_info) < 8)
            png_set_expand_gray_1_2_4_to_8(m_png);
        if (png_get_valid(m_png, m_info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(m_png);
        if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(m_png);
        png_read_update_info(m_png, m_info);
        m_bytesPerPixel = png_get_channels(m_png, m_info);
        png_uint_32 x = 0;
        png_uint_32 y = 0;
        int unit = 0;
        if (png_get_pHYs(m_png, m_info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x > 0 && y > 0 &&
            x <= 1000000 && y <= 1000000)
            m_dotsPerMeter = QSize(int(x), int(y));
    });
    m_failed = !ok;
    return ok && interlace == PNG_INTERLACE_NONE && fitsDecodingLimits(m_size) &&
           (m_bytesPerPixel == 3 || m_bytesPerPixel == 4) &&
           png_get_rowbytes(m_png, m_info) == std::size_t(m_size.width()) * std::size_t(m_bytesPerPixel);
}

bool PngRowReader::readRows(unsigned char* first, int count, std::size_t stride)
{
    if (!m_info || m_failed)
        return false;
    m_failed = !guarded(m_png, [&] {
        for (int row = 0; row < count; ++row)
            png_read_row(m_png, first + std::size_t(row) * stride, nullptr);
    });
    return !m_failed;
}

bool PngRowReader::finish()
{
    if (!m_info || m_failed)
        return false;
    m_failed = !guarded(m_png, [&] { png_read_end(m_png, nullptr); });
    return !m_failed;
}

} // namespace quillary
