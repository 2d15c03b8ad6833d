#include "detect/ScreenshotScan.h"
#include "core/FileNames.h"
#include "core/WatchStatus.h"
#include "detect/PngScreenCaptureFlag.h"
#include "imaging/FileBytes.h"
#include "imaging/PngChunks.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <QtEndian>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillary;

namespace {

const QDateTime start(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC);

DirectoryEntry file(const char* name, qint64 offsetMs = 0, std::optional<qint64> size = 100)
{
    return {QString::fromUtf8(name), (start.toMSecsSinceEpoch() + offsetMs) * 1'000'000, size};
}

// Probes that answer from tables and record what was asked.
struct FakeFiles {
    QSet<QString> flagged, unflaggable, unfinished; // unflaggable: not readable as a PNG, no value
    mutable QStringList flagQueries;

    ScreenshotProbes probes() const
    {
        return {[this](const QString& path) -> std::optional<bool> {
                    flagQueries.append(path);
                    return unflaggable.contains(path) ? std::nullopt : std::optional(flagged.contains(path));
                },
                [this](const QString& path) { return !unfinished.contains(path); }};
    }
};

// Starts outside the range of nanoseconds since 1970 (1678 to 2262) must take everything or nothing.
TEST(ScreenshotCandidate, NeedsARecentPngWithAMarkerOrTheScreenCaptureFlag)
{
    FakeFiles files;
    files.flagged.insert(QStringLiteral("/shots/IMG_0002.png"));
    files.unflaggable.insert(QStringLiteral("/shots/IMG_0003.png"));
    const auto candidate = [&](const DirectoryEntry& entry, const QDateTime& startedAt = start) {
        SeenFiles seen;
        return !scanForNewScreenshots(QStringLiteral("/shots"), {entry}, startedAt, seen, files.probes())
                    .accepted.isEmpty();
    };
    for (const char* name :
         {"Screen Shot 1.png", "SKÄRMAVBILD.PNG", "Ska\u0308rmavbild.Png" /* decomposed ä */,
          "window-capture.png", "IMG_0002.png"})
        EXPECT_TRUE(candidate(file(name))) << name;
    for (const char* name : {"scree nshot.png", "skarm.png", "capt.png", "Screenshot.jpg", "Screenshot",
                             ".png", "IMG_0001.png", "IMG_0003.png"})
        EXPECT_FALSE(candidate(file(name))) << name;
    EXPECT_TRUE(candidate(file("Screenshot.png", -2000)));
    EXPECT_FALSE(candidate(file("Screenshot.png", -2001)));
    EXPECT_FALSE(candidate({"Screenshot.png", {}, 100}))
        << "an unreadable creation date counts as the distant past";
    const auto year = [](int number) { return QDateTime(QDate(number, 1, 1), QTime(0, 0), Qt::UTC); };
    for (const QDateTime& startedAt : {distantPast(), year(1600), year(3000), distantFuture()})
        EXPECT_EQ(candidate(file("Screenshot.png"), startedAt), startedAt < start)
            << startedAt.toString().toStdString();
}

// Oldest first and stable; empty and half-written files wait unmarked, or they would never be taken.
TEST(ScreenshotScan, TakesNewFinishedScreenshotsOldestFirst)
{
    FakeFiles files;
    files.flagged = {QStringLiteral("/shots/IMG_1.png"), QStringLiteral("/shots/IMG_2.png")};
    files.unfinished = {QStringLiteral("/shots/Screenshot h.png")};
    std::vector<DirectoryEntry> entries{
        // the last three: empty, of unknown size and half written
        file("Screenshot c.png", 300),  file("Screenshot a.png", 100),   file("notes.txt", 50),
        file("Screenshot.jpg", 200),    file("Screenshot", 200),         file("Screenshot old.png", -60'000),
        file("IMG_1.png", 1),           file("Screenshot 1.png", 2),     file("IMG_2.png", 3),
        file("Screenshot e.png", 4, 0), file("Screenshot u.png", 5, {}), file("Screenshot h.png", 6)};
    QStringList burst; // equal dates, more of them than sorting by insertion would take
    for (int i = 20; i > 0; --i) {
        entries.push_back(file(("Screenshot b" + QByteArray::number(i) + ".png").constData(), 200));
        burst << QStringLiteral("/shots/Screenshot b%1.png").arg(i);
    }
    SeenFiles seen;
    seen.screenshots.insert(QStringLiteral("/shots/IMG_1.png"), FileStamp::of(entries[6]));
    OwnOutputs ownOutputs;
    ownOutputs.add(QStringLiteral("/shots/Screenshot 1.png"));
    seen.ownOutputs = &ownOutputs;
    const auto scan = [&] { return scanForNewScreenshots("/shots/", entries, start, seen, files.probes()); };
    const ScanResult result = scan();
    EXPECT_EQ(result.accepted, (QStringList{"/shots/IMG_2.png", "/shots/Screenshot a.png"} + burst +
                                QStringList{"/shots/Screenshot c.png"}));
    EXPECT_EQ(files.flagQueries, QStringList{"/shots/IMG_2.png"}) << "seen files and marked names";
    EXPECT_TRUE(result.hasUnfinished);

    files.unfinished.clear(); // the writer has finished: the waiting files are taken, and only they
    entries[9].size = 10;
    const ScanResult later = scan();
    EXPECT_EQ(later.accepted, (QStringList{"/shots/Screenshot e.png", "/shots/Screenshot h.png"}));
    EXPECT_TRUE(later.hasUnfinished) << "the file of unknown size still waits";
    entries[10].size = 10;
    EXPECT_FALSE(scan().hasUnfinished);
}

// A tool that always saves under one name: only a replaced or rewritten file is new again.
TEST(ScreenshotScan, AFileAtATakenPathIsNewOnlyWhenReplacedOrRewritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Screenshot.png"));
    SeenFiles seen;
    const auto taken = [&] {
        QThread::msleep(20); // file times must be able to tell a change from what came before
        return scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(), seen,
                                     FakeFiles().probes())
            .accepted.size();
    };
    test::writeFile(path, "first");
    EXPECT_EQ(taken(), 1);
    EXPECT_EQ(taken(), 0) << "rescanned";
    ASSERT_EQ(::chmod(toNativePath(path).constData(), 0600), 0);
    // Without a birth time the status-change time stands in, and a new mode changes that.
    EXPECT_EQ(taken(), QFileInfo(path).birthTime().isValid() ? 0 : 1) << "permissions changed";
    test::writeFile(path, "2");
    EXPECT_EQ(taken(), 1) << "rewritten in place";
    test::writeFile(path + ".new", "3");
    ASSERT_EQ(::rename(toNativePath(path + ".new").constData(), toNativePath(path).constData()), 0);
    EXPECT_EQ(taken(), 1) << "replaced by a rename";
}

// Names that are not UTF-8 lead back to the same bytes; links are neither listed nor read through.
TEST(ScreenshotScan, OddNamesCountByTheRulesAndLinksNotAtAll)
{
    QTemporaryDir dir, outside;
    const QByteArray flagged =
        test::tinyPng(test::pngChunk("tEXt", QByteArrayLiteral("Software\0gnome-screenshot")));
    test::writeFile(outside.filePath("IMG.png"), flagged);
    const QByteArray plain = test::tinyPng();
    // Name (255 bytes at most), content, and whether a regular file of that name is a new screenshot.
    const std::tuple<QByteArray, QByteArray, bool> files[] = {
        {"Screenshot\nline.png", plain, true},
        {"-Screenshot.png", plain, true},
        {"IMG \xff\n.png", flagged, true}, // by the file's own flag
        {"IMG \xfe\xff.png", flagged, true},
        {"Screenshot \xff.png", plain, true},
        {"Screen\nshot.png", plain, false},
        {"Scr\303eenshot.png", plain, false}, // a lead byte alone breaks the marker
        {"Screenshot " + QByteArray(240, 'x') + ".png", plain, true},
        {"Screenshot cut.png", plain.chopped(1), false},          // waits until it is finished
        {"Screenshot jpeg.png", "\xff\xd8\xff\xe0 a JPEG", true}, // not a PNG: taken as it is
    };
    const auto removeFiles = qScopeGuard([&] { // names Qt cannot remove
        for (const auto& file : files)
            ::unlink(toNativePath(dir.filePath(fromNativePath(std::get<0>(file)))).constData());
    });
    QStringList expected;
    for (const auto& [name, content, taken] : files) {
        test::writeFile(dir.filePath(fromNativePath(name)), content);
        if (taken)
            expected << dir.filePath(fromNativePath(name));
    }
    for (const auto& [name, pointsAt] : {std::pair{"Screenshot.png", outside.filePath("IMG.png")},
                                         {"IMG.png", outside.filePath("IMG.png")},
                                         {"Screenshot dir.png", outside.path()},
                                         {"Screenshot gone.png", dir.filePath("gone")},
                                         {"Screenshot loop.png", dir.filePath("Screenshot loop.png")}})
        ASSERT_EQ(::symlink(toNativePath(pointsAt).constData(), toNativePath(dir.filePath(name)).constData()),
                  0);

    SeenFiles seen;
    QStringList accepted = scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(),
                                                 seen, ScreenshotProbes::fromFiles())
                               .accepted;
    accepted.sort();
    expected.sort();
    EXPECT_EQ(accepted, expected);
    EXPECT_EQ(pngScreenCaptureFlag(dir.filePath("IMG.png")), std::nullopt);
    EXPECT_FALSE(screenshotFileIsComplete(dir.filePath("IMG.png")));
}

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
        const int chunk = starts[below(qsizetype(starts.size()))];
        const quint32 rest = quint32(bytes.size() - chunk - 12);
        const quint32 lengths[] = {0,          1,    12,       13,       0x7fffffff,       0x80000000,
                                   0xffffffff, rest, rest + 1, rest - 1, quint32(random())};
        bytes.replace(chunk, 4, bigEndian32(lengths[below(std::size(lengths))]));
    }
}

// No crash or out-of-bounds read on mutated input (the sanitizers check); nullopt only without a header.
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
