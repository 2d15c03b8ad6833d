#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quillary {

// How much of a file's start is looked at for the flag. Screenshot tools write their text chunks
// right after the header, so this covers them without reading whole images.
inline constexpr std::size_t kPngFlagReadLimit = 64 * 1024;

// Whether the PNG at `path` says it is a screen capture: true or false for a readable PNG, nullopt
// when the file cannot be opened or does not start with the PNG signature and an IHDR chunk.
// Reads at most kPngFlagReadLimit bytes from the start of the file, in one read.
std::optional<bool> pngScreenCaptureFlag(const QString& path);

// The same on the first bytes of a file; bytes past kPngFlagReadLimit are ignored. Only chunks before
// the first IDAT are looked at. A chunk that does not fit whole (CRC included) in the bytes given, or
// whose length is over 2^31-1, ends the walk with false: the header was readable, and the flag chunks
// come before that point when they are there at all.
std::optional<bool> pngScreenCaptureFlagFromBytes(std::span<const std::uint8_t> head);

// Whether the file ends with a well-formed IEND chunk, i.e. it was written completely.
// Reads only the file's size and its last 12 bytes.
bool pngEndsWithIEND(const QString& path);

} // namespace quillary
