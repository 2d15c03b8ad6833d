#include "detect/ScreenshotScan.h"
#include "core/FileNames.h"
#include "core/WatchStatus.h"
#include "detect/PngScreenCaptureFlag.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillary;

namespace {

const QDateTime start(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC);

DirectoryEntry file(const char* name, qint64 offsetMs = 0, std::optional<qint64> size = 100)
{
    return {QString::fromUtf8(name), (start.toMSecsSinceEpoch() + offsetMs) * 1'000'000, size};
}

QByteArray pngBytes(const QString& software)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.setText(QStringLiteral("Software"), software);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
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

// A PNG created at most 2 s before the start whose name, in any case or canonical form, has a marker, or
// which has the screen-capture flag. Starts beyond the range of nanoseconds since 1970 (before 1678,
// after 2262) take everything or nothing.
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

// New screenshots are taken oldest first (stable for equal dates), without probing seen files or marked
// names; empty and half-written ones wait, unmarked, until they are finished.
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

// A name that the folder's own screenshot tool gives counts like a marker, for recent PNGs only;
// in a folder without such a tool it counts for nothing.
TEST(ScreenshotScan, TakesTheNamesOfTheFoldersOwnTool)
{
    const std::vector<DirectoryEntry> entries{file("2026-12-06_10-00.png"), file("2026-12-06_10-00.jpg"),
                                              file("2026-12-06_09-00.png", -60'000), file("notes.png")};
    const ScreenshotToolNames flameshot{{flameshotFileNames({})}};
    SeenFiles seen;
    EXPECT_TRUE(
        scanForNewScreenshots("/other", entries, start, seen, FakeFiles().probes()).accepted.isEmpty());
    EXPECT_EQ(scanForNewScreenshots("/flame", entries, start, seen, FakeFiles().probes(), flameshot).accepted,
              QStringList{"/flame/2026-12-06_10-00.png"});
}

// What pngFileEnd finds (tested with it) decides: only an unfinished PNG or an unreadable file waits.
TEST(ScreenshotFileIsComplete, OnlyAnUnfinishedPngOrAnUnreadableFileIsIncomplete)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    const QByteArray png = pngBytes({});
    test::writeFile(path, png);
    EXPECT_TRUE(screenshotFileIsComplete(path));
    test::writeFile(path, png.chopped(1));
    EXPECT_FALSE(screenshotFileIsComplete(path));
    test::writeFile(path, "\xff\xd8\xff\xe0 a JPEG under a png name");
    EXPECT_TRUE(screenshotFileIsComplete(path)) << "not a PNG: taken as it is";
    EXPECT_FALSE(screenshotFileIsComplete(dir.filePath(QStringLiteral("missing.png"))));
}

// A tool that always saves under one name: what happens to the file between two scans decides
// whether the second scan takes it again.
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

// Names are bytes: one that is not UTF-8 is listed, probed (one by its marker, the other by the file's
// own flag; both read the file) and handed on as a path that leads back to the same name.
TEST(ScreenshotScan, NamesThatAreNotUtf8AreTakenByTheirBytes)
{
    QTemporaryDir dir;
    const QByteArray png = pngBytes(QStringLiteral("gnome-screenshot"));
    QList<QByteArray> created;
    const auto removeCreated = qScopeGuard([&] { // names Qt cannot remove
        for (const QByteArray& nativePath : created)
            ::unlink(nativePath.constData());
    });
    for (const char* name : {"IMG \xfe\xff.png", "Screenshot \xff.png"}) {
        created.append(toNativePath(dir.path()) + '/' + name);
        const int descriptor = ::open(created.last().constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::write(descriptor, png.constData(), size_t(png.size())), png.size());
        ::close(descriptor);
    }
    SeenFiles seen;
    QList<QByteArray> accepted;
    for (const QString& path : scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries,
                                                     distantPast(), seen, ScreenshotProbes::fromFiles())
                                   .accepted)
        accepted.append(toNativePath(path));
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(accepted, created);
}

// Odd names are judged by the same rules as any other; a link is never listed, whatever it points at,
// and the probes do not read through one put in a listed file's place.
TEST(ScreenshotScan, OddNamesCountByTheRulesAndLinksNotAtAll)
{
    QTemporaryDir dir, outside;
    const QByteArray flagged = pngBytes(QStringLiteral("gnome-screenshot"));
    test::writeFile(outside.filePath("IMG.png"), flagged);
    // Name (255 bytes at most), and whether a regular file of that name is a new screenshot.
    const std::pair<QByteArray, bool> files[] = {
        {"Screenshot\nline.png", true},
        {"-Screenshot.png", true},
        {"IMG \xff\n.png", true},
        {"Screen\nshot.png", false},
        {"Scr\303eenshot.png", false}, // a lead byte alone breaks the marker
        {"Screenshot " + QByteArray(240, 'x') + ".png", true},
    };
    const auto removeFiles = qScopeGuard([&] { // names Qt cannot remove
        for (const auto& file : files)
            ::unlink(toNativePath(dir.filePath(fromNativePath(file.first))).constData());
    });
    QStringList expected;
    for (const auto& [name, taken] : files) {
        test::writeFile(dir.filePath(fromNativePath(name)), name.startsWith("IMG") ? flagged : pngBytes({}));
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

} // namespace
