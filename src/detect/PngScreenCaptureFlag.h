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
// Reads chunk heads, and the data of text chunks, within kPngFlagReadLimit bytes from the start of
// the file. `path` is opened by its native name (toNativePath), so any name a listing produced can
// be read.
std::optional<bool> pngScreenCaptureFlag(const QString& path);

// The same on the first bytes of a file; bytes past kPngFlagReadLimit are ignored. Only chunks before
// the first IDAT are looked at. A chunk that does not fit whole (CRC included) in the bytes given, or
// whose length is over 2^31-1, ends the walk with false: the header was readable, and the flag chunks
// come before that point when they are there at all.
std::optional<bool> pngScreenCaptureFlagFromBytes(std::span<const std::uint8_t> head);

} // namespace quillary
