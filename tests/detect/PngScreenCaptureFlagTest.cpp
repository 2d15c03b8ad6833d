#include "detect/PngScreenCaptureFlag.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

#include <array>
#include <random>
#include <vector>

namespace quillary {
namespace {

QByteArray bigEndian32(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return {bytes, 4};
}

QByteArray chunk(const char* type, const QByteArray& data)
{
    const QByteArray typeAndData = QByteArray(type, 4) + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), typeAndData.size());
    return bigEndian32(quint32(data.size())) + typeAndData + bigEndian32(quint32(crc));
}

QByteArray zlibCompressed(const QByteArray& data)
{
    uLongf size = compressBound(data.size());
    QByteArray out(int(size), '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
             data.size());
    out.resize(int(size));
    return out;
}

const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);
const QByteArray kIend = chunk("IEND", {});
constexpr int kHeaderSize = 33; // signature and IHDR chunk

QByteArray tEXt(const QByteArray& keyword, const QByteArray& text)
{
    return chunk("tEXt", keyword + '\0' + text);
}

QByteArray zTXt(const QByteArray& keyword, const QByteArray& text, char method = 0)
{
    return chunk("zTXt", keyword + '\0' + method + zlibCompressed(text));
}

QByteArray iTXt(const QByteArray& keyword, const QByteArray& text, bool compressed,
                const QByteArray& language = {}, const QByteArray& translated = {})
{
    return chunk("iTXt", keyword + '\0' + char(compressed ? 1 : 0) + '\0' + language + '\0' + translated +
                             '\0' + (compressed ? zlibCompressed(text) : text));
}

// A 2x2 RGB image, hand-assembled: `beforeData` between IHDR and IDAT, `afterData` between IDAT and IEND.
QByteArray png(const QByteArray& beforeData, const QByteArray& afterData = {})
{
    const QByteArray header = bigEndian32(2) + bigEndian32(2) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return kSignature + chunk("IHDR", header) + beforeData +
           chunk("IDAT", zlibCompressed(QByteArray(2 * (1 + 2 * 3), '\x40'))) + afterData + kIend;
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

std::optional<bool> flagOf(const QByteArray& bytes)
{
    // An exact-size heap copy, so that AddressSanitizer sees any read past the end.
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    return pngScreenCaptureFlagFromBytes(copy);
}

class PngScreenCaptureFlagTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }

    QByteArray savedWithQt(const QString& name, const QString& software)
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QImageWriter writer(path(name), "png");
        if (!software.isEmpty())
            writer.setText("Software", software);
        EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        return test::readFile(path(name));
    }

    std::optional<bool> flagOfFile(const QByteArray& bytes)
    {
        test::writeFile(path("file"), bytes);
        return pngScreenCaptureFlag(path("file"));
    }

    QTemporaryDir m_dir;
};

TEST_F(PngScreenCaptureFlagTest, AnswersForFilesWrittenByQtAndNothingForOtherFiles)
{
    savedWithQt("shot.png", "gnome-screenshot");
    EXPECT_EQ(pngScreenCaptureFlag(path("shot.png")), true);
    savedWithQt("plain.png", "");
    EXPECT_EQ(pngScreenCaptureFlag(path("plain.png")), false);
    EXPECT_EQ(pngScreenCaptureFlag(path("missing.png")), std::nullopt);
    EXPECT_EQ(pngScreenCaptureFlag(m_dir.path()), std::nullopt);

    const QByteArray valid = png(tEXt("Software", "gnome-screenshot"));
    const std::pair<const char*, QByteArray> notPngs[] = {
        {"empty", {}},
        {"IHDR cut short", valid.left(kHeaderSize - 1)},
        {"IHDR of 12 bytes", kSignature + chunk("IHDR", QByteArray(12, '\x01')) + tEXt("Software", "x")},
        {"text chunk first", kSignature + tEXt("Software", "gnome-screenshot") + valid.mid(8)},
        {"wrong signature", "\x89PNG\r\n\x1a\r" + valid.mid(8)},
    };
    for (const auto& [name, bytes] : notPngs) {
        SCOPED_TRACE(name);
        EXPECT_EQ(flagOf(bytes), std::nullopt);
        EXPECT_EQ(flagOfFile(bytes), std::nullopt);
    }
    EXPECT_EQ(flagOf(valid.left(kHeaderSize)), false) << "the header alone is a readable PNG";
}

TEST(PngScreenCaptureFlag, ReadsSoftwareFromEveryKindOfTextChunkBeforeIDAT)
{
    const QByteArray gamma = chunk("gAMA", bigEndian32(45455));
    const QByteArray flag = tEXt("Software", "gnome-screenshot");
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        {"tEXt", flag, true},
        {"tEXt after other chunks", gamma + tEXt("Comment", "x") + flag, true},
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
        {"zTXt not compressed", chunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"), false},
        {"length over 2^31-1 first", bigEndian32(0x80000000) + "tEXt" + flag, false},
    };
    for (const auto& [name, beforeData, expected] : cases)
        EXPECT_EQ(flagOf(png(beforeData)), expected) << name;
    EXPECT_EQ(flagOf(png({}, flag)), false) << "after IDAT";
}

TEST(PngScreenCaptureFlag, ReadsScreenshotOnlyFromTheUserCommentOfXmp)
{
    const QByteArray macOS = ">" + userComment("Screenshot");
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        {"macOS element", xmp(macOS), true},
        {"macOS element, compressed", xmp(macOS, true), true},
        {"attribute", xmp(" exif:UserComment=\"Screenshot\">"), true},
        {"attribute in single quotes", xmp("\n  exif:UserComment = 'Screenshot'>"), true},
        {"plain element text", xmp("><exif:UserComment> Screenshot </exif:UserComment>"), true},
        {"other comment", xmp(">" + userComment("Holiday")), false},
        {"comment containing the word", xmp(">" + userComment("Not a Screenshot")), false},
        {"word in another element", xmp("><dc:title>Screenshot</dc:title>" + userComment("Holiday")), false},
        {"word after the element",
         xmp(">" + userComment("x") + "<dc:title><rdf:li>Screenshot</rdf:li></dc:title>"), false},
        {"another attribute", xmp(" exif:UserComment=\"Holiday\" dc:title=\"Screenshot\">"), false},
        {"longer element name", xmp("><exif:UserCommentX>Screenshot</exif:UserCommentX>"), false},
        {"unterminated element", xmp("><exif:UserComment><rdf:li>Screenshot</rdf:li>"), false},
        {"self-closing element",
         xmp("><exif:UserComment/><dc:title><rdf:li>Screenshot</rdf:li></dc:title>" + userComment("x")),
         false},
        {"packet in tEXt under another keyword", tEXt("Comment", xmpPacket(macOS)), false},
    };
    for (const auto& [name, chunks, expected] : cases)
        EXPECT_EQ(flagOf(png(chunks)), expected) << name;
}

TEST_F(PngScreenCaptureFlagTest, ReadsOnlyTheFirst64KiB)
{
    const QByteArray flag = tEXt("Software", "gnome-screenshot");
    // A filler chunk sized so that the flag chunk ends `overshoot` bytes past the read limit.
    const auto withOvershoot = [&](int overshoot) {
        const int fillerData = int(kPngFlagReadLimit) + overshoot - kHeaderSize - flag.size() - 12;
        return png(chunk("quIl", QByteArray(fillerData, 'f')) + flag);
    };
    EXPECT_EQ(flagOf(withOvershoot(0)), true);
    EXPECT_EQ(flagOf(withOvershoot(1)), false);
    EXPECT_EQ(flagOfFile(withOvershoot(0)), true);
    EXPECT_EQ(flagOfFile(withOvershoot(1)), false);
}

// Complete means the chunks lead to a whole IEND; what follows it does not matter.
TEST_F(PngScreenCaptureFlagTest, AFileIsCompleteOnceItsChunksReachIEND)
{
    const QByteArray complete = savedWithQt("full.png", "");
    const QByteArray body = complete.left(complete.size() - kIend.size());
    QByteArray badIendCrc = complete;
    badIendCrc[badIendCrc.size() - 1] = '\x83';
    const std::tuple<const char*, QByteArray, PngFileEnd> cases[] = {
        {"as written", complete, PngFileEnd::complete},
        {"16 zero bytes after IEND", complete + QByteArray(16, '\0'), PngFileEnd::complete},
        {"a chunk's worth after IEND", complete + chunk("tEXt", "Comment\0x"), PngFileEnd::complete},
        {"text chunk between IDAT and IEND", png({}, tEXt("Comment", "x")), PngFileEnd::complete},
        {"IEND cut short", complete.left(complete.size() - 1), PngFileEnd::unfinished},
        {"no IEND", body, PngFileEnd::unfinished},
        {"an IDAT cut short", body.left(body.size() - 5), PngFileEnd::unfinished},
        {"IEND bytes at the end of a chunk cut short", body.left(body.size() - 20) + kIend,
         PngFileEnd::unfinished},
        {"a length over 2^31-1", kSignature + bigEndian32(0x80000000) + "IDAT" + kIend,
         PngFileEnd::unfinished},
        {"IEND with a wrong CRC", badIendCrc, PngFileEnd::unfinished},
        {"signature only", kSignature, PngFileEnd::unfinished},
        {"part of the signature", kSignature.left(5), PngFileEnd::unfinished},
        {"empty", {}, PngFileEnd::unfinished},
        {"a JPEG", "\xff\xd8\xff\xe0 a JPEG", PngFileEnd::notPng},
    };
    for (const auto& [name, bytes, expected] : cases) {
        test::writeFile(path("file"), bytes);
        EXPECT_EQ(pngFileEnd(path("file")), expected) << name;
        EXPECT_EQ(pngEndsWithIEND(path("file")), expected == PngFileEnd::complete) << name;
    }
    EXPECT_EQ(pngFileEnd(path("missing.png")), PngFileEnd::unreadable);
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
        for (qint64 at = 8; at + 12 <= bytes.size();) {
            starts.push_back(int(at));
            at += 12 + qFromBigEndian<quint32>(bytes.constData() + at);
        }
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

// Seeded random mutations of real files: the parser must neither crash nor read out of bounds (the
// sanitizer build checks that), and must answer nullopt exactly when the header is broken.
TEST_F(PngScreenCaptureFlagTest, SurvivesRandomMutations)
{
    const QByteArray macOS = ">" + userComment("Screenshot");
    const std::vector<QByteArray> seeds = {
        savedWithQt("seed.png", "gnome-screenshot"),
        png(chunk("gAMA", bigEndian32(45455)) + zTXt("Software", "gnome-screenshot")),
        png(iTXt("Software", "gnome-screenshot", true, "en", "Logiciel")),
        png(xmp(macOS)),
        png(xmp(macOS, true) + tEXt("Comment", "x")),
        png(xmp(" exif:UserComment=\"Screenshot\">"), tEXt("Software", "gnome-screenshot")),
    };
    const QByteArray header = kSignature + bigEndian32(13) + "IHDR";
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
        if (i % 1000 == 0) { // now and then through a file too, which must read the same bytes
            EXPECT_EQ(flagOfFile(bytes), answer) << "mutation " << i;
            // Complete takes a whole IEND, and bytes added after it change nothing.
            const bool complete = pngEndsWithIEND(path("file"));
            EXPECT_TRUE(!complete || bytes.contains(kIend)) << "mutation " << i;
            test::writeFile(path("file"), bytes + "trailing");
            EXPECT_TRUE(!complete || pngEndsWithIEND(path("file"))) << "mutation " << i;
        }
    }
    // The mutants must reach every answer, or the parser's deeper paths went untested.
    for (const int count : outcomes)
        EXPECT_GT(count, kMutations / 50);
}

} // namespace
} // namespace quillary
