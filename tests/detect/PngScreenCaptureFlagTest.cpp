#include "detect/PngScreenCaptureFlag.h"
#include "imaging/FileBytes.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtEndian>

#include <array>
#include <random>
#include <vector>

namespace quillary {
namespace {

using test::bigEndian32;
using test::pngChunk;
using test::tinyPng;
using test::zlibStream;

constexpr int kHeaderSize = 33; // signature and IHDR chunk

QByteArray tEXt(const QByteArray& keyword, const QByteArray& text)
{
    return pngChunk("tEXt", keyword + '\0' + text);
}

QByteArray zTXt(const QByteArray& keyword, const QByteArray& text, char method = 0)
{
    return pngChunk("zTXt", keyword + '\0' + method + zlibStream(text));
}

QByteArray iTXt(const QByteArray& keyword, const QByteArray& text, bool compressed,
                const QByteArray& language = {}, const QByteArray& translated = {})
{
    return pngChunk("iTXt", keyword + '\0' + char(compressed) + '\0' + language + '\0' + translated + '\0' +
                                (compressed ? zlibStream(text) : text));
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
const QByteArray kIend = pngChunk("IEND", {});
const QByteArray kMacOS = ">" + userComment("Screenshot");

std::optional<bool> flagOf(const QByteArray& bytes)
{
    // An exact-size heap copy, so that AddressSanitizer sees any read past the end.
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    return pngScreenCaptureFlagFromBytes(copy);
}

class PngScreenCaptureFlagTest : public ::testing::Test {
protected:
    std::optional<bool> flagOfFile(const QByteArray& bytes)
    {
        test::writeFile(m_dir.filePath("file"), bytes);
        return pngScreenCaptureFlag(m_dir.filePath("file"));
    }
    QTemporaryDir m_dir;
};

TEST_F(PngScreenCaptureFlagTest, AnswersForPngFilesAndNothingForOtherFiles)
{
    EXPECT_EQ(flagOfFile(tinyPng(kFlag)), true);
    EXPECT_EQ(flagOfFile(tinyPng()), false);
    EXPECT_EQ(pngScreenCaptureFlag(m_dir.filePath("missing.png")), std::nullopt);
    EXPECT_EQ(pngScreenCaptureFlag(m_dir.path()), std::nullopt);

    const QByteArray valid = tinyPng(kFlag);
    const std::pair<const char*, QByteArray> notPngs[] = {
        {"empty", {}},
        {"IHDR cut short", valid.left(kHeaderSize - 1)},
        {"IHDR of 12 bytes", test::pngStart(QByteArray(12, '\x01')) + kFlag},
        {"text chunk first", valid.left(8) + kFlag + valid.mid(8)},
        {"wrong signature", "\x89PNG\r\n\x1a\r" + valid.mid(8)},
    };
    for (const auto& [name, bytes] : notPngs) {
        SCOPED_TRACE(name);
        EXPECT_EQ(flagOf(bytes), std::nullopt);
        EXPECT_EQ(flagOfFile(bytes), std::nullopt);
    }
    EXPECT_EQ(flagOf(valid.left(kHeaderSize)), false) << "the header alone is a readable PNG";
}

// Software "gnome-screenshot" in any kind of text chunk, or an XMP UserComment "Screenshot".
TEST(PngScreenCaptureFlag, ReadsSoftwareAndTheXmpUserCommentFromTextChunksBeforeIDAT)
{
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        {"tEXt", kFlag, true},
        {"tEXt after other chunks", pngChunk("gAMA", bigEndian32(45455)) + tEXt("Comment", "x") + kFlag,
         true},
        {"other case", tEXt("Software", "GNOME-screenshot"), false},
        {"prefix", tEXt("Software", "gnome-screensho"), false},
        {"longer", tEXt("Software", "gnome-screenshot-x"), false},
        {"trailing NUL", tEXt("Software", QByteArray("gnome-screenshot\0", 17)), false},
        {"other keyword", tEXt("Description", "gnome-screenshot"), false},
        {"keyword with a space", tEXt("Software ", "gnome-screenshot"), false},
        {"iTXt", iTXt("Software", "gnome-screenshot", false), true},
        {"iTXt compressed, with language", iTXt("Software", "gnome-screenshot", true, "en", "Logiciel"),
         true},
        {"iTXt compressed, longer", iTXt("Software", "gnome-screenshot gnome-screenshot", true), false},
        {"zTXt", zTXt("Software", "gnome-screenshot"), true},
        {"zTXt unknown method", zTXt("Software", "gnome-screenshot", 1), false},
        {"zTXt not compressed", pngChunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"),
         false},
        {"length over 2^31-1 first", bigEndian32(0x80000000) + "tEXt" + kFlag, false},
        {"XMP as macOS writes it", xmp(kMacOS), true},
        {"XMP compressed", xmp(kMacOS, true), true},
        {"XMP attribute", xmp(" exif:UserComment=\"Screenshot\">"), true},
        {"XMP attribute in single quotes", xmp("\n  exif:UserComment = 'Screenshot'>"), true},
        {"XMP plain element text", xmp("><exif:UserComment> Screenshot </exif:UserComment>"), true},
        {"XMP other comment", xmp(">" + userComment("Holiday")), false},
        {"XMP comment containing the word", xmp(">" + userComment("Not a Screenshot")), false},
        {"XMP word in another element", xmp("><dc:title>Screenshot</dc:title>" + userComment("Holiday")),
         false},
        {"XMP word after the element",
         xmp(">" + userComment("x") + "<dc:title><rdf:li>Screenshot</rdf:li></dc:title>"), false},
        {"XMP another attribute", xmp(" exif:UserComment=\"Holiday\" dc:title=\"Screenshot\">"), false},
        {"XMP longer element name", xmp("><exif:UserCommentX>Screenshot</exif:UserCommentX>"), false},
        {"XMP unterminated element", xmp("><exif:UserComment><rdf:li>Screenshot</rdf:li>"), false},
        {"XMP self-closing element",
         xmp("><exif:UserComment/><dc:title><rdf:li>Screenshot</rdf:li></dc:title>" + userComment("x")),
         false},
        {"XMP packet in tEXt under another keyword", tEXt("Comment", xmpPacket(kMacOS)), false},
    };
    for (const auto& [name, beforeData, expected] : cases)
        EXPECT_EQ(flagOf(tinyPng(beforeData)), expected) << name;
    EXPECT_EQ(flagOf(tinyPng({}, kFlag)), false) << "after IDAT";
}

TEST_F(PngScreenCaptureFlagTest, ReadsOnlyTheFirst64KiB)
{
    for (const int overshoot : {0, 1}) {
        // A filler chunk sized so that the flag chunk ends `overshoot` bytes past the read limit.
        const int fillerData = int(kPngFlagReadLimit) + overshoot - kHeaderSize - kFlag.size() - 12;
        const QByteArray png = tinyPng(pngChunk("quIl", QByteArray(fillerData, 'f')) + kFlag);
        EXPECT_EQ(flagOf(png), overshoot == 0);
        EXPECT_EQ(flagOfFile(png), overshoot == 0);
    }
}

// One random edit: a flipped bit, inserted, removed or copied bytes, a cut, a byte that matters to
// the parsers, or a chunk's length set to a boundary value.
void mutate(QByteArray& bytes, std::mt19937& random)
{
    const auto below = [&](qsizetype bound) { return int(random() % std::uint32_t(bound)); };
    if (bytes.isEmpty())
        return;
    const int pos = below(bytes.size());
    switch (below(7)) {
    case 0:
        bytes[pos] = char(bytes[pos] ^ (1 << below(8)));
        break;
    case 1:
        bytes.insert(pos, QByteArray(1 + below(4), char(below(256))));
        break;
    case 2:
        bytes.remove(pos, 1 + below(8));
        break;
    case 3:
        bytes.truncate(pos);
        break;
    case 4:
        bytes[pos] = "\0\xff<>\"=/\x01"[below(8)];
        break;
    case 5:
        if (bytes.size() < 4096)
            bytes.insert(pos, bytes.mid(below(bytes.size() + 1), 1 + below(64)));
        break;
    default: {
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
}

// Seeded random mutations: the parsers must neither crash nor read out of bounds (the sanitizer build
// checks that), the flag must be nullopt exactly when the header is broken, and a file must read as
// the same bytes in memory do.
TEST_F(PngScreenCaptureFlagTest, SurvivesRandomMutations)
{
    const std::vector<QByteArray> seeds = {
        tinyPng(pngChunk("pHYs", bigEndian32(3780) + bigEndian32(3780) + '\1') + kFlag),
        tinyPng(pngChunk("gAMA", bigEndian32(45455)) + zTXt("Software", "gnome-screenshot")),
        tinyPng(iTXt("Software", "gnome-screenshot", true, "en", "Logiciel")),
        tinyPng(xmp(kMacOS)),
        tinyPng(xmp(kMacOS, true) + tEXt("Comment", "x")),
        tinyPng(xmp(" exif:UserComment=\"Screenshot\">"), kFlag),
    };
    const QByteArray header = "\x89PNG\r\n\x1a\n" + bigEndian32(13) + "IHDR";
    std::mt19937 random(0x5eed);
    std::array<int, 3> outcomes{}; // nullopt, false, true
    constexpr int kMutations = 20000;
    for (int i = 0; i < kMutations; ++i) {
        QByteArray bytes = seeds[std::size_t(i) % seeds.size()];
        for (int rounds = 1 + i % 4; rounds > 0; --rounds)
            mutate(bytes, random);
        const std::optional<bool> answer = flagOf(bytes);
        ASSERT_EQ(answer.has_value(), bytes.size() >= kHeaderSize && bytes.startsWith(header))
            << "mutation " << i << ": " << bytes.toHex().data();
        ++outcomes[answer ? 1 + int(*answer) : 0];
        // Complete takes a whole IEND, and bytes added after it change nothing.
        const PngFileEnd end = pngFileEnd(MemoryBytes(bytes));
        ASSERT_TRUE(end != PngFileEnd::complete ||
                    (bytes.contains(kIend) && pngFileEnd(MemoryBytes(bytes + "trailing")) == end))
            << "mutation " << i;
        if (i % 500 == 0) { // now and then through a file, which must read as the same bytes do
            EXPECT_EQ(flagOfFile(bytes), answer) << "mutation " << i;
            EXPECT_EQ(pngFileEnd(m_dir.filePath("file")), end) << "mutation " << i;
        }
    }
    // The mutants must reach every answer, or the parser's deeper paths went untested.
    for (const int count : outcomes)
        EXPECT_GT(count, kMutations / 50);
}

} // namespace
} // namespace quillary
