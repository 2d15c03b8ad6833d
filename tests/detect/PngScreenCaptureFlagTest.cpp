#include "detect/PngScreenCaptureFlag.h"
#include "imaging/FileBytes.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtEndian>

#include <random>

using namespace quillary;

namespace {

using namespace quillary::test;

constexpr int kHeaderSize = 33; // signature and IHDR chunk

QByteArray tEXt(const QByteArray& keyword, const QByteArray& text)
{
    return pngChunk("tEXt", keyword + '\0' + text);
}

QByteArray zTXt(const QByteArray& keyword, const QByteArray& text, char method = 0)
{
    return pngChunk("zTXt", keyword + '\0' + method + test::zlibStream(text));
}

QByteArray iTXt(const QByteArray& keyword, const QByteArray& text, bool compressed,
                const QByteArray& language = {}, const QByteArray& translated = {})
{
    return pngChunk("iTXt", keyword + '\0' + char(compressed) + '\0' + language + '\0' + translated + '\0' +
                                (compressed ? test::zlibStream(text) : text));
}

// An XMP packet whose rdf:Description continues with `description` (its attributes, then '>').
QByteArray xmpPacket(const QByteArray& description)
{
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description rdf:about=\"\"" + description +
           "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

QByteArray xmp(const QByteArray& description, bool compressed = false)
{
    return iTXt("XML:com.adobe.xmp", xmpPacket(description), compressed);
}

// As macOS writes it.
QByteArray userComment(const QByteArray& value)
{
    return "<exif:UserComment>\n  <rdf:Alt>\n    <rdf:li xml:lang=\"x-default\">" + value +
           "</rdf:li>\n  </rdf:Alt>\n</exif:UserComment>";
}

const QByteArray kFlag = tEXt("Software", "gnome-screenshot");
const QByteArray kMacOS = ">" + userComment("Screenshot");

// The flag in `bytes` (an exact-size copy, so AddressSanitizer sees reads past the end), and in a file.
std::optional<bool> flagOf(const QByteArray& bytes, bool fromFileToo = true)
{
    const std::optional<bool> flag =
        pngScreenCaptureFlagFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    if (fromFileToo) {
        const QTemporaryDir dir;
        test::writeFile(dir.filePath("file"), bytes);
        EXPECT_EQ(pngScreenCaptureFlag(dir.filePath("file")), flag);
    }
    return flag;
}

// A filler chunk sized so that a flag chunk after it ends `overshoot` bytes past the read limit.
QByteArray filler(int overshoot)
{
    return pngChunk("quIl",
                    QByteArray(int(kPngFlagReadLimit) + overshoot - kHeaderSize - kFlag.size() - 12, 'f'));
}

// Text chunks before IDAT, and whether they flag a screen capture.
const std::tuple<const char*, QByteArray, bool> kCases[] = {
    {"tEXt", kFlag, true},
    {"after others", pngChunk("gAMA", bigEndian32(45455)) + tEXt("Comment", "x") + kFlag, true},
    {"other case", tEXt("Software", "GNOME-screenshot"), false},
    {"prefix", tEXt("Software", "gnome-screensho"), false},
    {"longer", tEXt("Software", "gnome-screenshot-x"), false},
    {"trailing NUL", tEXt("Software", QByteArray("gnome-screenshot\0", 17)), false},
    {"other keyword", tEXt("Description", "gnome-screenshot"), false},
    {"keyword with a space", tEXt("Software ", "gnome-screenshot"), false},
    {"iTXt", iTXt("Software", "gnome-screenshot", false), true},
    {"iTXt zipped, language", iTXt("Software", "gnome-screenshot", true, "en", "Logiciel"), true},
    {"iTXt zipped, longer", iTXt("Software", "gnome-screenshot gnome-screenshot", true), false},
    {"zTXt", zTXt("Software", "gnome-screenshot"), true},
    {"zTXt unknown method", zTXt("Software", "gnome-screenshot", 1), false},
    {"zTXt unzipped", pngChunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"), false},
    {"length over 2^31-1 first", bigEndian32(0x80000000) + "tEXt" + kFlag, false},
    {"XMP as macOS writes it", xmp(kMacOS), true},
    {"XMP compressed", xmp(kMacOS, true), true},
    {"XMP attribute", xmp(" exif:UserComment=\"Screenshot\">"), true},
    {"XMP attribute in single quotes", xmp("\n  exif:UserComment = 'Screenshot'>"), true},
    {"XMP plain element text", xmp("><exif:UserComment> Screenshot </exif:UserComment>"), true},
    {"XMP other comment", xmp(">" + userComment("Holiday")), false},
    {"XMP longer comment", xmp(">" + userComment("Not a Screenshot")), false},
    {"XMP word elsewhere", xmp("><dc:title>Screenshot</dc:title>" + userComment("Holiday")), false},
    {"word after", xmp(">" + userComment("x") + "<dc:title><rdf:li>Screenshot</rdf:li></dc:title>"), false},
    {"XMP another attribute", xmp(" exif:UserComment=\"Holiday\" dc:title=\"Screenshot\">"), false},
    {"XMP longer element name", xmp("><exif:UserCommentX>Screenshot</exif:UserCommentX>"), false},
    {"XMP unterminated element", xmp("><exif:UserComment><rdf:li>Screenshot</rdf:li>"), false},
    {"XMP self-closing",
     xmp("><exif:UserComment/><dc:title><rdf:li>Screenshot</rdf:li></dc:title>" + userComment("x")), false},
    {"XMP in a tEXt Comment", tEXt("Comment", xmpPacket(kMacOS)), false},
    {"no text chunk", {}, false},
    {"flag ending at the read limit", filler(0) + kFlag, true},
    {"flag ending past the read limit", filler(1) + kFlag, false},
};

// Software "gnome-screenshot" in any kind of text chunk, or an XMP UserComment "Screenshot".
TEST(PngScreenCaptureFlag, ReadsSoftwareAndTheXmpUserCommentFromTextChunksBeforeIDAT)
{
    for (const auto& [name, beforeData, expected] : kCases)
        EXPECT_EQ(flagOf(tinyPng(beforeData)), expected) << name;
    EXPECT_EQ(flagOf(tinyPng({}, kFlag)), false) << "after IDAT";
}

// One random edit: bits, bytes inserted, removed or copied, a cut, or a chunk length set to a boundary.
void mutate(QByteArray& bytes, std::mt19937& random)
{
    const auto below = [&](qsizetype bound) { return int(random() % std::uint32_t(bound)); };
    if (bytes.isEmpty())
        return;
    const int pos = below(bytes.size()), kind = below(7);
    if (kind == 0)
        bytes[pos] = char(bytes[pos] ^ (1 << below(8)));
    else if (kind == 1)
        bytes.insert(pos, QByteArray(1 + below(4), char(below(256))));
    else if (kind == 2)
        bytes.remove(pos, 1 + below(8));
    else if (kind == 3)
        bytes.truncate(pos);
    else if (kind == 4)
        bytes[pos] = "\0\xff<>\"=/\x01"[below(8)];
    else if (kind == 5 && bytes.size() < 4096)
        bytes.insert(pos, bytes.mid(below(bytes.size() + 1), 1 + below(64)));
    else if (kind == 6) {
        std::vector<int> starts; // of the chunks, found by walking from the signature
        for (qint64 at = 8; at + 12 <= bytes.size();
             at += 12 + qFromBigEndian<quint32>(bytes.constData() + at))
            starts.push_back(int(at));
        if (starts.empty())
            return;
        const int start = starts[below(qsizetype(starts.size()))];
        const quint32 rest = quint32(bytes.size() - start - 12);
        const quint32 lengths[] = {0,          1,    12,       13,       0x7fffffff,       0x80000000,
                                   0xffffffff, rest, rest + 1, rest - 1, quint32(random())};
        bytes.replace(start, 4, bigEndian32(lengths[below(std::size(lengths))]));
    }
}

// Random mutations never crash a parser or make it read out of bounds (the sanitizers check), and only
// a file that cannot be read or a broken header gives nullopt.
TEST(PngScreenCaptureFlag, AnswersNothingOnlyForWhatIsNoReadablePng)
{
    const QTemporaryDir dir;
    EXPECT_EQ(pngScreenCaptureFlag(dir.filePath("missing.png")), std::nullopt);
    EXPECT_EQ(pngScreenCaptureFlag(dir.path()), std::nullopt);
    const QByteArray header = "\x89PNG\r\n\x1a\n" + bigEndian32(13) + "IHDR";
    std::mt19937 random(0x5eed);
    int outcomes[3] = {}; // nullopt, false, true
    constexpr int kMutations = 20000;
    for (int i = 0; i < kMutations; ++i) {
        QByteArray bytes = tinyPng(std::get<1>(kCases[std::size_t(i) % std::size(kCases)])); // as seeds
        for (int rounds = 1 + i % 4; rounds > 0; --rounds)
            mutate(bytes, random);
        const std::optional<bool> answer = flagOf(bytes, i % 500 == 0); // now and then through a file
        ASSERT_EQ(answer.has_value(), bytes.size() >= kHeaderSize && bytes.startsWith(header))
            << "mutation " << i << ": " << bytes.toHex().data();
        ++outcomes[answer ? 1 + int(*answer) : 0];
        // Complete takes a whole IEND, and bytes added after it change nothing.
        const PngFileEnd end = pngFileEnd(MemoryBytes(bytes));
        ASSERT_TRUE(end != PngFileEnd::complete || (bytes.contains(pngChunk("IEND", {})) &&
                                                    pngFileEnd(MemoryBytes(bytes + "trailing")) == end))
            << "mutation " << i;
    }
    for (const int count : outcomes) // every answer, or the parsers' deeper paths went untested
        EXPECT_GT(count, kMutations / 50);
}

} // namespace
