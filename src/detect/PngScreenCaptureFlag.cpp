#include "detect/PngScreenCaptureFlag.h"

#include "imaging/FileBytes.h"
#include "imaging/PngChunks.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t kIhdrLength = 13;
constexpr std::size_t kMaxInflatedSize = 64 * 1024;

constexpr std::string_view kSoftwareKeyword = "Software";
constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
constexpr std::string_view kGnomeScreenshot = "gnome-screenshot";
constexpr std::string_view kScreenshot = "Screenshot";
constexpr std::string_view kUserComment = "exif:UserComment";
constexpr std::string_view kUserCommentEnd = "</exif:UserComment";
constexpr std::string_view kListItem = "<rdf:li";
constexpr std::string_view kListItemEnd = "</rdf:li";

std::string_view asText(Bytes bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Text chunks start with fields ended by NUL; this takes one off the front.
struct NulField {
    std::string_view field;
    Bytes rest;
};

std::optional<NulField> takeNulField(Bytes bytes)
{
    const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    if (nul == bytes.end())
        return std::nullopt;
    const auto length = static_cast<std::size_t>(nul - bytes.begin());
    return NulField{asText(bytes.first(length)), bytes.subspan(length + 1)};
}

// nullopt when the stream is corrupt, truncated, or would inflate to more than `cap` bytes.
std::optional<std::string> inflateCapped(Bytes compressed, std::size_t cap)
{
    if (compressed.size() > UINT_MAX)
        return std::nullopt;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    std::string out(cap, '\0');
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Whether `name` at `at` is a whole tag name rather than the start of a longer one.
bool endsTagName(std::string_view text, std::size_t at)
{
    return at < text.size() && (isXmlSpace(text[at]) || text[at] == '>' || text[at] == '/');
}

// The content of an exif:UserComment element: either the bare text or an rdf:Alt of rdf:li items.
bool userCommentContentIsScreenshot(std::string_view content)
{
    if (trimmed(content) == kScreenshot)
        return true;
    std::size_t pos = 0;
    while ((pos = content.find(kListItem, pos)) != std::string_view::npos) {
        pos += kListItem.size();
        if (!endsTagName(content, pos))
            continue;
        const std::size_t tagEnd = content.find('>', pos);
        const std::size_t end = content.find(kListItemEnd, pos);
        // Without a closing tag further on, no later item can have one either.
        if (tagEnd == std::string_view::npos || end == std::string_view::npos)
            return false;
        if (tagEnd < end && trimmed(content.substr(tagEnd + 1, end - tagEnd - 1)) == kScreenshot)
            return true;
        pos = end + kListItemEnd.size();
    }
    return false;
}

// Looks for UserComment "Screenshot" as an element or as an attribute. Every search resumes past
// what it consumed, so the work stays linear in the packet's size.
bool xmpSaysScreenshot(std::string_view xmp)
{
    std::size_t pos = 0;
    while ((pos = xmp.find(kUserComment, pos)) != std::string_view::npos) {
        const std::size_t at = pos;
        pos += kUserComment.size();
        if (at == 0)
            continue;
        const char before = xmp[at - 1];
        if (before == '<') {
            if (!endsTagName(xmp, pos))
                continue;
            const std::size_t tagEnd = xmp.find('>', pos);
            if (tagEnd == std::string_view::npos)
                return false;
            if (xmp[tagEnd - 1] == '/') {
                pos = tagEnd + 1;
                continue;
            }
            const std::size_t end = xmp.find(kUserCommentEnd, tagEnd + 1);
            if (end == std::string_view::npos)
                return false;
            if (userCommentContentIsScreenshot(xmp.substr(tagEnd + 1, end - tagEnd - 1)))
                return true;
            pos = end + kUserCommentEnd.size();
        } else if (isXmlSpace(before)) {
            std::size_t i = pos;
            while (i < xmp.size() && isXmlSpace(xmp[i]))
                ++i;
            if (i >= xmp.size() || xmp[i] != '=')
                continue;
            ++i;
            while (i < xmp.size() && isXmlSpace(xmp[i]))
                ++i;
            if (i >= xmp.size() || (xmp[i] != '"' && xmp[i] != '\''))
                continue;
            const char quote = xmp[i];
            const std::string_view value = xmp.substr(i + 1, kScreenshot.size() + 1);
            if (value.size() == kScreenshot.size() + 1 && value.back() == quote &&
                value.substr(0, kScreenshot.size()) == kScreenshot)
                return true;
            pos = i + 1;
        }
    }
    return false;
}

// Whether `text`, stored as given, says screen capture for a chunk with this keyword.
bool textSaysScreenCapture(std::string_view keyword, Bytes text, bool compressed)
{
    const bool software = keyword == kSoftwareKeyword;
    if (!software && keyword != kXmpKeyword)
        return false;
    std::string inflated;
    std::string_view plain = asText(text);
    if (compressed) {
        // A Software value longer than the one looked for cannot match, so that is all it may inflate to.
        auto result = inflateCapped(text, software ? kGnomeScreenshot.size() : kMaxInflatedSize);
        if (!result)
            return false;
        inflated = std::move(*result);
        plain = inflated;
    }
    return software ? plain == kGnomeScreenshot : xmpSaysScreenshot(plain);
}

bool chunkSaysScreenCapture(std::string_view type, Bytes data)
{
    const auto keyword = takeNulField(data);
    if (!keyword)
        return false;
    if (type == "tEXt")
        return keyword->field == kSoftwareKeyword &&
               textSaysScreenCapture(keyword->field, keyword->rest, false);
    if (type == "zTXt") {
        // One method byte, and 0 (deflate) is the only one defined.
        if (keyword->rest.empty() || keyword->rest[0] != 0 || keyword->field != kSoftwareKeyword)
            return false;
        return textSaysScreenCapture(keyword->field, keyword->rest.subspan(1), true);
    }
    if (type == "iTXt") {
        if (keyword->rest.size() < 2)
            return false;
        const std::uint8_t compressionFlag = keyword->rest[0];
        const std::uint8_t compressionMethod = keyword->rest[1];
        if (compressionFlag > 1 || (compressionFlag == 1 && compressionMethod != 0))
            return false;
        const auto language = takeNulField(keyword->rest.subspan(2));
        if (!language)
            return false;
        const auto translatedKeyword = takeNulField(language->rest);
        if (!translatedKeyword)
            return false;
        return textSaysScreenCapture(keyword->field, translatedKeyword->rest, compressionFlag == 1);
    }
    return false;
}

std::optional<bool> screenCaptureFlagIn(const ByteSource& source)
{
    std::array<std::uint8_t, kPngSignature.size()> signature{};
    if (!source.read(0, signature) || !hasPngSignature(signature))
        return std::nullopt;
    PngChunkWalker walker(source);
    const auto header = walker.next();
    if (!header || !header->is("IHDR") || header->length != kIhdrLength)
        return std::nullopt;

    std::vector<std::uint8_t> data;
    while (const auto chunk = walker.next()) {
        if (chunk->is("IDAT") || chunk->is("IEND"))
            break;
        if (!chunk->is("tEXt") && !chunk->is("zTXt") && !chunk->is("iTXt"))
            continue; // not read at all
        data.resize(chunk->length);
        if (!source.read(chunk->dataOffset(), data))
            break;
        if (chunkSaysScreenCapture(std::string_view(chunk->type.data(), chunk->type.size()), data))
            return true;
    }
    return false;
}

} // namespace

std::optional<bool> pngScreenCaptureFlagFromBytes(std::span<const std::uint8_t> head)
{
    return screenCaptureFlagIn(MemoryBytes(head.first(std::min(head.size(), kPngFlagReadLimit))));
}

std::optional<bool> pngScreenCaptureFlag(const QString& path)
{
    const FileBytes file(path, kPngFlagReadLimit);
    return file.isOpen() ? screenCaptureFlagIn(file) : std::nullopt;
}

} // namespace quillary
