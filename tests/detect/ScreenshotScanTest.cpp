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
    // Name, content, and whether a regular file of that name is a new screenshot.
    const std::tuple<QByteArray, QByteArray, bool> files[] = {
        {"IMG \xff\n.png", flagged, true},                        // by the file's own flag
        {"Scr\303eenshot.png", plain, false},                     // a lead byte alone breaks the marker
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
    for (const char* name : {"Screenshot.png", "IMG.png"}) // links to folders, dangling, loops: hostile_input
        ASSERT_EQ(::symlink(toNativePath(outside.filePath("IMG.png")).constData(),
                            toNativePath(dir.filePath(name)).constData()),
                  0);

    SeenFiles seen;
    QStringList accepted = scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(),
                                                 seen, ScreenshotProbes::fromFiles())
                               .accepted;
    accepted.sort();
    expected.sort();
    EXPECT_EQ(accepted, expected);
    for (const char* unreadable : {"IMG.png", "missing.png", ""}) // a link, nothing, a folder
        EXPECT_EQ(pngScreenCaptureFlag(dir.filePath(unreadable)), std::nullopt) << unreadable;
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
std::optional<bool> flagOf(const QByteArray& bytes)
{
    const std::optional<bool> flag =
        pngScreenCaptureFlagFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    const QTemporaryDir dir;
    test::writeFile(dir.filePath("file"), bytes);
    EXPECT_EQ(pngScreenCaptureFlag(dir.filePath("file")), flag);
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
    {"longer", tEXt("Software", "gnome-screenshot-x"), false},
    {"trailing NUL", tEXt("Software", QByteArray("gnome-screenshot\0", 17)), false},
    {"other keyword", tEXt("Description", "gnome-screenshot"), false},
    {"iTXt", iTXt("Software", "gnome-screenshot", false), true},
    {"iTXt zipped, language", iTXt("Software", "gnome-screenshot", true, "en", "Logiciel"), true},
    {"zTXt", zTXt("Software", "gnome-screenshot"), true},
    {"zTXt unknown method", zTXt("Software", "gnome-screenshot", 1), false},
    {"zTXt unzipped", pngChunk("zTXt", "Software" + QByteArray(2, '\0') + "gnome-screenshot"), false},
    {"length over 2^31-1 first", bigEndian32(0x80000000) + "tEXt" + kFlag, false},
    {"XMP as macOS writes it", xmp(kMacOS), true},
    {"XMP compressed", xmp(kMacOS, true), true},
    {"XMP attribute", xmp(" exif:UserComment=\"Screenshot\">"), true},
    {"XMP attribute in single quotes", xmp("\n  exif:UserComment = 'Screenshot'>"), true},
    {"XMP plain element text", xmp("><exif:UserComment> Screenshot </exif:UserComment>"), true},
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

} // namespace
