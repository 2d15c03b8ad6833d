#include "detect/PngScreenCaptureFlag.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

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

QByteArray textChunk(const QByteArray& keyword, const QByteArray& text)
{
    return chunk("tEXt", keyword + '\0' + text);
}

QByteArray compressedTextChunk(const QByteArray& keyword, const QByteArray& text, char method = 0)
{
    return chunk("zTXt", keyword + '\0' + method + zlibCompressed(text));
}

QByteArray internationalTextChunk(const QByteArray& keyword, const QByteArray& text, bool compressed,
                                  const QByteArray& language = {}, const QByteArray& translated = {})
{
    return chunk("iTXt", keyword + '\0' + char(compressed ? 1 : 0) + '\0' + language + '\0' + translated +
                             '\0' + (compressed ? zlibCompressed(text) : text));
}

// A 2x2 RGB image, hand-assembled: `beforeData` between IHDR and IDAT, `afterData` between IDAT and IEND.
QByteArray png(const QByteArray& beforeData, const QByteArray& afterData = {})
{
    const QByteArray header = bigEndian32(2) + bigEndian32(2) + QByteArray("\x08\x02\x00\x00\x00", 5);
    const QByteArray scanlines(2 * (1 + 2 * 3), '\x40');
    return kSignature + chunk("IHDR", header) + beforeData + chunk("IDAT", zlibCompressed(scanlines)) +
           afterData + kIend;
}

QByteArray xmpPacket(const QByteArray& description)
{
    return "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\""
           " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"" +
           description + "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"r\"?>";
}

QByteArray userCommentElement(const QByteArray& value)
{
    return "<exif:UserComment>\n  <rdf:Alt>\n    <rdf:li xml:lang=\"x-default\">" + value +
           "</rdf:li>\n  </rdf:Alt>\n</exif:UserComment>";
}

QByteArray xmpChunk(const QByteArray& description, bool compressed = false)
{
    return internationalTextChunk("XML:com.adobe.xmp", xmpPacket(description), compressed);
}

std::optional<bool> flagOf(const QByteArray& bytes)
{
    // An exact-size heap copy, so that AddressSanitizer sees any read past the end.
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    return pngScreenCaptureFlagFromBytes(copy);
}

QByteArray savedWithQt(const QString& path, const QString& key, const QString& value)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QImageWriter writer(path, "png");
    if (!key.isEmpty())
        writer.setText(key, value);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

class PngScreenCaptureFlagTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(PngScreenCaptureFlagTest, ReadsSoftwareFromImagesWrittenByQt)
{
    struct Case {
        const char* key;
        const char* value;
        bool expected;
    };
    const Case cases[] = {
        {"Software", "gnome-screenshot", true},  {"", "", false},
        {"Software", "GNOME-screenshot", false}, {"Software", "gnome-screenshot-x", false},
        {"Software", "gnome-screensho", false},  {"Description", "gnome-screenshot", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        const QString file = path("qt.png");
        const QByteArray bytes = savedWithQt(file, c.key, c.value);
        EXPECT_EQ(pngScreenCaptureFlag(file), c.expected);
        EXPECT_EQ(flagOf(bytes), c.expected);
        EXPECT_TRUE(pngEndsWithIEND(file));
    }
}

TEST(PngScreenCaptureFlag, ReadsEveryKindOfTextChunk)
{
    const QByteArray gamma = chunk("gAMA", bigEndian32(45455));
    struct Case {
        const char* name;
        QByteArray beforeData;
        QByteArray afterData;
        bool expected;
    };
    const Case cases[] = {
        {"tEXt", textChunk("Software", "gnome-screenshot"), {}, true},
        {"tEXt after other chunks",
         gamma + textChunk("Comment", "x") + textChunk("Software", "gnome-screenshot"),
         {},
         true},
        {"tEXt with a trailing NUL", textChunk("Software", QByteArray("gnome-screenshot\0", 17)), {}, false},
        {"tEXt keyword with a space", textChunk("Software ", "gnome-screenshot"), {}, false},
        {"iTXt cut after the flag", chunk("iTXt", QByteArray("Software\0\0", 10)), {}, false},
        {"tEXt without NUL", chunk("tEXt", "Softwaregnome-screenshot"), {}, false},
        {"iTXt", internationalTextChunk("Software", "gnome-screenshot", false), {}, true},
        {"iTXt compressed", internationalTextChunk("Software", "gnome-screenshot", true), {}, true},
        {"iTXt with language",
         internationalTextChunk("Software", "gnome-screenshot", true, "en", "Logiciel"),
         {},
         true},
        {"iTXt compressed, longer text",
         internationalTextChunk("Software", "gnome-screenshot gnome-screenshot", true),
         {},
         false},
        {"zTXt", compressedTextChunk("Software", "gnome-screenshot"), {}, true},
        {"zTXt unknown method", compressedTextChunk("Software", "gnome-screenshot", 1), {}, false},
        {"zTXt other text", compressedTextChunk("Software", "gnome-screenshot-x"), {}, false},
        {"zTXt truncated stream",
         chunk("zTXt", "Software" + QByteArray(2, '\0') + zlibCompressed("gnome-screenshot").left(9)),
         {},
         false},
        {"zTXt stored as plain text",
         chunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"),
         {},
         false},
        {"only after IDAT", gamma, textChunk("Software", "gnome-screenshot"), false},
        {"iTXt only after IDAT", {}, internationalTextChunk("Software", "gnome-screenshot", true), false},
        {"length over 2^31-1 before the flag",
         bigEndian32(0x80000000) + "tEXt" + textChunk("Software", "gnome-screenshot"),
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(flagOf(png(c.beforeData, c.afterData)), c.expected);
    }
}

TEST(PngScreenCaptureFlag, ReadsTheUserCommentOfXmp)
{
    struct Case {
        const char* name;
        QByteArray chunk;
        bool expected;
    };
    const QByteArray macOS = ">" + userCommentElement("Screenshot");
    const Case cases[] = {
        {"macOS element", xmpChunk(macOS), true},
        {"macOS element, compressed", xmpChunk(macOS, true), true},
        {"attribute", xmpChunk(" exif:UserComment=\"Screenshot\">"), true},
        {"attribute in single quotes", xmpChunk("\n  exif:UserComment = 'Screenshot'>"), true},
        {"plain element text", xmpChunk("><exif:UserComment> Screenshot </exif:UserComment>"), true},
        {"other comment", xmpChunk(">" + userCommentElement("Holiday")), false},
        {"comment only containing the word", xmpChunk(">" + userCommentElement("Not a Screenshot")), false},
        {"word in another element",
         xmpChunk("><dc:title>Screenshot</dc:title>" + userCommentElement("Holiday")), false},
        {"word after the element",
         xmpChunk(">" + userCommentElement("x") +
                  "<dc:title><rdf:Alt><rdf:li>Screenshot"
                  "</rdf:li></rdf:Alt></dc:title>"),
         false},
        {"another attribute", xmpChunk(" exif:UserComment=\"Holiday\" dc:title=\"Screenshot\">"), false},
        {"longer element name", xmpChunk("><exif:UserCommentX>Screenshot</exif:UserCommentX>"), false},
        {"unterminated element", xmpChunk("><exif:UserComment><rdf:li>Screenshot</rdf:li>"), false},
        {"self-closing element",
         xmpChunk("><exif:UserComment/><dc:title><rdf:Alt><rdf:li>Screenshot</rdf:li></rdf:Alt>"
                  "</dc:title>" +
                  userCommentElement("Holiday")),
         false},
        {"item tag never closed",
         xmpChunk("><exif:UserComment><rdf:li </rdf:li>Screenshot</exif:UserComment>"), false},
        {"unterminated attribute", xmpChunk(" exif:UserComment=\"Screenshot"), false},
        {"packet in tEXt under another keyword", textChunk("Comment", xmpPacket(macOS)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(flagOf(png(c.chunk)), c.expected);
    }
}

TEST_F(PngScreenCaptureFlagTest, ReadsOnlyTheFirst64KiB)
{
    const QByteArray flag = textChunk("Software", "gnome-screenshot");
    const int headerSize = int(kSignature.size()) + 25;
    // A filler chunk sized so that the flag chunk ends `overshoot` bytes past the read limit.
    const auto withOvershoot = [&](int overshoot) {
        const int fillerData = int(kPngFlagReadLimit) + overshoot - headerSize - flag.size() - 12;
        return png(chunk("quIl", QByteArray(fillerData, 'f')) + flag);
    };
    EXPECT_EQ(flagOf(withOvershoot(0)), true);
    EXPECT_EQ(flagOf(withOvershoot(1)), false);
    EXPECT_EQ(flagOf(withOvershoot(40000)), false);

    test::writeFile(path("edge.png"), withOvershoot(0));
    test::writeFile(path("past.png"), withOvershoot(1));
    EXPECT_EQ(pngScreenCaptureFlag(path("edge.png")), true);
    EXPECT_EQ(pngScreenCaptureFlag(path("past.png")), false);
}

TEST_F(PngScreenCaptureFlagTest, AnswersNothingForFilesThatAreNotPngs)
{
    const QByteArray valid = png(textChunk("Software", "gnome-screenshot"));
    const QByteArray jpeg = QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9");
    const QByteArray ihdrOf12 =
        kSignature + chunk("IHDR", QByteArray(12, '\x01')) + textChunk("Software", "x");
    const std::pair<const char*, QByteArray> cases[] = {
        {"jpeg", jpeg},
        {"empty", {}},
        {"truncated signature", valid.left(5)},
        {"signature only", kSignature},
        {"IHDR cut short", valid.left(32)},
        {"IHDR of 12 bytes", ihdrOf12},
        {"text chunk first", kSignature + textChunk("Software", "gnome-screenshot") + valid.mid(8)},
        {"wrong signature", "\x89PNG\r\n\x1a\r" + valid.mid(8)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(flagOf(bytes), std::nullopt);
        test::writeFile(path("file"), bytes);
        EXPECT_EQ(pngScreenCaptureFlag(path("file")), std::nullopt);
    }
    EXPECT_EQ(flagOf(valid.left(33)), false);
    EXPECT_EQ(pngScreenCaptureFlag(path("missing.png")), std::nullopt);
    EXPECT_EQ(pngScreenCaptureFlag(m_dir.path()), std::nullopt);
}

TEST_F(PngScreenCaptureFlagTest, EndsWithIENDOnlyWhenComplete)
{
    const QByteArray complete = savedWithQt(path("full.png"), {}, {});
    ASSERT_TRUE(complete.endsWith(kIend));
    EXPECT_TRUE(pngEndsWithIEND(path("full.png")));
    for (int cut = 1; cut <= 16; ++cut) {
        test::writeFile(path("cut.png"), complete.left(complete.size() - cut));
        EXPECT_FALSE(pngEndsWithIEND(path("cut.png"))) << cut << " bytes cut";
    }
    test::writeFile(path("trailing.png"), complete + '\0');
    EXPECT_FALSE(pngEndsWithIEND(path("trailing.png")));
    QByteArray badCrc = complete;
    badCrc[badCrc.size() - 1] = '\x83';
    test::writeFile(path("crc.png"), badCrc);
    EXPECT_FALSE(pngEndsWithIEND(path("crc.png")));
    test::writeFile(path("empty.png"), {});
    EXPECT_FALSE(pngEndsWithIEND(path("empty.png")));
    EXPECT_FALSE(pngEndsWithIEND(path("missing.png")));
}

// Seeded random mutations of real files: the parser must neither crash nor read out of bounds (the
// sanitizer build checks that), and must answer nullopt exactly when the header is broken.
class PngMutator final {
public:
    explicit PngMutator(std::uint32_t seed)
        : m_random(seed)
    {
    }

    void mutate(QByteArray& bytes)
    {
        const int pos = bytes.isEmpty() ? 0 : below(bytes.size());
        switch (below(7)) {
        case 0:
            if (!bytes.isEmpty())
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
        case 4: {
            static constexpr std::array<char, 8> interesting{'\0', '\xff', '<', '>', '"', '=', '/', '\x01'};
            if (!bytes.isEmpty())
                bytes[pos] = interesting[below(int(interesting.size()))];
            break;
        }
        case 5:
            if (bytes.size() < 4096)
                bytes.insert(pos, bytes.mid(below(bytes.size() + 1), 1 + below(64)));
            break;
        default:
            setChunkLength(bytes);
        }
    }

private:
    int below(int bound) { return int(m_random() % std::uint32_t(bound)); }

    // Overwrites the length of one chunk, found by walking from the signature, with a boundary value.
    void setChunkLength(QByteArray& bytes)
    {
        std::vector<int> starts;
        for (qint64 pos = 8; pos + 12 <= bytes.size();) {
            starts.push_back(int(pos));
            const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + pos);
            pos += 12 + (quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]);
        }
        if (starts.empty())
            return;
        const int start = starts[below(int(starts.size()))];
        const quint32 remaining = quint32(bytes.size() - start - 12);
        const std::array<quint32, 11> lengths{0,
                                              1,
                                              12,
                                              13,
                                              0x7fffffff,
                                              0x80000000,
                                              0xffffffff,
                                              remaining,
                                              remaining + 1,
                                              remaining - 1,
                                              quint32(m_random())};
        bytes.replace(start, 4, bigEndian32(lengths[below(int(lengths.size()))]));
    }

    std::mt19937 m_random;
};

bool hasPngHeader(const QByteArray& bytes)
{
    return bytes.size() >= 33 && bytes.startsWith(kSignature + bigEndian32(13) + "IHDR");
}

TEST_F(PngScreenCaptureFlagTest, SurvivesRandomMutations)
{
    const QByteArray macOS = ">" + userCommentElement("Screenshot");
    const std::vector<QByteArray> seeds = {
        savedWithQt(path("seed.png"), "Software", "gnome-screenshot"),
        png(chunk("gAMA", bigEndian32(45455)) + compressedTextChunk("Software", "gnome-screenshot")),
        png(internationalTextChunk("Software", "gnome-screenshot", true, "en", "Logiciel")),
        png(xmpChunk(macOS)),
        png(xmpChunk(macOS, true) + textChunk("Comment", "x")),
        png(xmpChunk(" exif:UserComment=\"Screenshot\">"), textChunk("Software", "gnome-screenshot")),
    };
    PngMutator mutator(0x5eed);
    std::array<int, 3> outcomes{}; // nullopt, false, true
    constexpr int kMutations = 20000;
    for (int i = 0; i < kMutations; ++i) {
        QByteArray bytes = seeds[std::size_t(i) % seeds.size()];
        for (int rounds = 1 + i % 4; rounds > 0; --rounds)
            mutator.mutate(bytes);
        const std::optional<bool> answer = flagOf(bytes);
        ASSERT_EQ(answer.has_value(), hasPngHeader(bytes))
            << "mutation " << i << ": " << bytes.toHex().data();
        ++outcomes[answer ? 1 + int(*answer) : 0];
        // Now and then through a file too, which must read the same bytes.
        if (i % 1000 == 0) {
            test::writeFile(path("mutant.png"), bytes);
            EXPECT_EQ(pngScreenCaptureFlag(path("mutant.png")), answer) << "mutation " << i;
            EXPECT_EQ(pngEndsWithIEND(path("mutant.png")), bytes.endsWith(kIend)) << "mutation " << i;
        }
    }
    // The mutants must reach every answer, or the parser's deeper paths went untested.
    for (const int count : outcomes)
        EXPECT_GT(count, kMutations / 50);
}

} // namespace
} // namespace quillary
