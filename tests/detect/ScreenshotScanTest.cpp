#include "detect/ScreenshotScan.h"
#include "core/FileNames.h"
#include "core/WatchStatus.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
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

const QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC);

qint64 atOffsetMs(qint64 ms)
{
    return (start.toMSecsSinceEpoch() + ms) * 1'000'000;
}

DirectoryEntry file(const QString& name, qint64 offsetMs = 0, qint64 size = 100)
{
    return {name, atOffsetMs(offsetMs), size};
}

QByteArray pngBytes(const QString& software = {})
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (!software.isEmpty())
        image.setText(QStringLiteral("Software"), software);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Probes that answer from tables and record what was asked.
struct FakeFiles {
    QSet<QString> flagged;
    QSet<QString> unflaggable; // not readable as PNG: no value
    QSet<QString> unfinished;
    mutable QStringList flagQueries;

    ScreenshotProbes probes() const
    {
        return {[this](const QString& path) -> std::optional<bool> {
                    flagQueries.append(path);
                    if (unflaggable.contains(path))
                        return std::nullopt;
                    return flagged.contains(path);
                },
                [this](const QString& path) { return !unfinished.contains(path); }};
    }
};

TEST(ScreenshotNameMarkers, MatchEveryMarkerInAnyCaseAndCanonicalForm)
{
    for (const char* name :
         {"Screenshot from 2026-12-06 10-00-00.png", "Screen Shot 2026-12-06 at 10.00.00.png", "Capture.PNG",
          "Bildschirmfoto vom 2026-12-06.png", "Schermafbeelding 2026-12-06.png",
          "Skjermbilde 2026-12-06.png", "Skärmavbild 2026-12-06.png", "SKÄRMAVBILD.png",
          "Ska\u0308rmavbild.png" /* decomposed ä */, "Ekran Resmi 2026-12-06.png", "Kapture 2026-12-06.png",
          "Captura de pantalla.png", "window-capture.png"})
        EXPECT_TRUE(hasScreenshotNameMarker(QString::fromUtf8(name))) << name;

    for (const char* name : {"IMG_0001.png", "holiday.png", "scree nshot.png", "skarm.png", "capt.png"})
        EXPECT_FALSE(hasScreenshotNameMarker(QString::fromUtf8(name))) << name;
}

TEST(ScreenshotCandidate, NeedsAPngNoOlderThanTwoSecondsAndAMarkerOrTheScreenCaptureFlag)
{
    FakeFiles files;
    files.flagged.insert(QStringLiteral("/shots/IMG_0002.png"));
    files.unflaggable.insert(QStringLiteral("/shots/IMG_0003.png"));
    const std::tuple<const char*, qint64, bool> cases[] = {
        {"Screenshot 1.png", 0, true},      {"Screenshot 2.PNG", 0, true},
        {"Screenshot 3.Png", -1500, true},  {"Screenshot 4.png", -2000, true},
        {"Screenshot 5.png", -2500, false}, {"Screenshot 6.jpg", 0, false},
        {"Screenshot 7", 0, false},         {".png", 0, false},
        {"IMG_0001.png", 0, false},         {"IMG_0002.png", 0, true},
        {"IMG_0003.png", 0, false}};
    for (const auto& [name, offsetMs, expected] : cases)
        EXPECT_EQ(isScreenshotCandidate(QStringLiteral("/shots"), file(QString::fromUtf8(name), offsetMs),
                                        start, files.probes()),
                  expected)
            << name;
    EXPECT_FALSE(isScreenshotCandidate(QStringLiteral("/shots"),
                                       {QStringLiteral("Screenshot 8.png"), {}, 100}, start, files.probes()))
        << "an unreadable creation date counts as the distant past";
}

// The delegate's start time is the distant future until the first watch. Nanoseconds since 1970
// run out in 2262 and before 1678: later or earlier starts take nothing or everything.
TEST(ScreenshotCandidate, StartsOutsideTheRangeOfNanosecondsTakeEverythingOrNothing)
{
    FakeFiles files;
    const std::pair<QDateTime, bool> cases[] = {
        {distantPast(), true},
        {QDateTime(QDate(1600, 1, 1), QTime(0, 0), Qt::UTC), true},
        {QDateTime(QDate(3000, 1, 1), QTime(0, 0), Qt::UTC), false},
        {distantFuture(), false},
    };
    for (const auto& [startedAt, expected] : cases) {
        EXPECT_EQ(isScreenshotCandidate(QStringLiteral("/shots"), file(QStringLiteral("Screenshot.png")),
                                        startedAt, files.probes()),
                  expected)
            << startedAt.toString(Qt::ISODate).toStdString();
    }
}

TEST(ScreenshotScan, AcceptsNewScreenshotsOldestFirstStableForEqualDatesWithoutProbingSeenOnes)
{
    FakeFiles files;
    files.flagged = {QStringLiteral("/shots/IMG_1.png"), QStringLiteral("/shots/IMG_2.png")};
    std::vector<DirectoryEntry> entries{file(QStringLiteral("Screenshot c.png"), 300),
                                        file(QStringLiteral("Screenshot a.png"), 100),
                                        file(QStringLiteral("notes.txt"), 50),
                                        file(QStringLiteral("Screenshot b2.png"), 200),
                                        file(QStringLiteral("Screenshot b1.png"), 200),
                                        file(QStringLiteral("Screenshot old.png"), -60'000),
                                        file(QStringLiteral("IMG_1.png"), 1),
                                        file(QStringLiteral("Screenshot 1.png"), 2),
                                        file(QStringLiteral("IMG_2.png"), 3)};
    SeenFiles seen;
    seen.screenshots.insert(QStringLiteral("/shots/IMG_1.png"), FileStamp::of(entries[6]));
    OwnOutputs ownOutputs;
    ownOutputs.add(QStringLiteral("/shots/Screenshot 1.png"));
    seen.ownOutputs = &ownOutputs;
    const ScanResult result =
        scanForNewScreenshots(QStringLiteral("/shots"), entries, start, seen, files.probes());
    EXPECT_EQ(result.accepted,
              (QStringList{"/shots/IMG_2.png", "/shots/Screenshot a.png", "/shots/Screenshot b2.png",
                           "/shots/Screenshot b1.png", "/shots/Screenshot c.png"}));
    EXPECT_EQ(files.flagQueries, QStringList{"/shots/IMG_2.png"})
        << "seen files and marked names are not probed";
    EXPECT_FALSE(result.hasUnfinished);
}

TEST(ScreenshotScan, EmptyAndHalfWrittenFilesWaitUnmarked)
{
    FakeFiles files;
    files.unfinished.insert(QStringLiteral("/shots/Screenshot half.png"));
    std::vector<DirectoryEntry> entries{
        file(QStringLiteral("Screenshot empty.png"), 1, 0),
        DirectoryEntry{QStringLiteral("Screenshot unknown size.png"), atOffsetMs(2), std::nullopt},
        file(QStringLiteral("Screenshot half.png"), 3),
        file(QStringLiteral("Screenshot done.png"), 4),
    };
    SeenFiles seen;
    const ScanResult result =
        scanForNewScreenshots(QStringLiteral("/shots/"), entries, start, seen, files.probes());
    EXPECT_EQ(result.accepted, QStringList{"/shots/Screenshot done.png"});
    EXPECT_TRUE(result.hasUnfinished);

    // Once the writer has finished, the same file is accepted.
    files.unfinished.clear();
    entries[0].size = 10;
    const ScanResult later =
        scanForNewScreenshots(QStringLiteral("/shots"), entries, start, seen, files.probes());
    EXPECT_EQ(later.accepted, (QStringList{"/shots/Screenshot empty.png", "/shots/Screenshot half.png"}));
    EXPECT_TRUE(later.hasUnfinished) << "the file of unknown size still waits";
}

TEST(ScreenshotFileIsComplete, APngIsCompleteOnlyOnceItsEndIsWritten)
{
    QTemporaryDir dir;
    const QByteArray png = pngBytes();
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    test::writeFile(path, png);
    EXPECT_TRUE(screenshotFileIsComplete(path));
    for (const qsizetype cut :
         {qsizetype(1), qsizetype(12), png.size() / 2, qsizetype(8), qsizetype(3), png.size()}) {
        test::writeFile(path, png.left(png.size() - cut));
        EXPECT_FALSE(screenshotFileIsComplete(path)) << "cut " << cut;
    }
    test::writeFile(path, "\xff\xd8\xff\xe0 a JPEG under a png name");
    EXPECT_TRUE(screenshotFileIsComplete(path)) << "a file that is not a PNG is taken as it is";
    EXPECT_FALSE(screenshotFileIsComplete(dir.filePath(QStringLiteral("missing.png"))));
}

// A tool that always saves under one name: what happens to the file between two scans decides
// whether the second scan takes it again.
TEST(ScreenshotScan, AFileAtATakenPathIsNewWhenReplacedOrRewrittenButNotWhenOnlyRescannedOrTouched)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Screenshot.png"));
    const QByteArray nativePath = toNativePath(path);
    const QByteArray renamedFrom = nativePath + ".new";
    test::writeFile(path, "first");
    // Without a birth time the status-change time stands in, and a new mode changes that.
    const bool hasBirthTime = QFileInfo(path).birthTime().isValid();
    const std::tuple<const char*, std::function<void()>, bool> cases[] = {
        {"rescanned", [] {}, false},
        {"permissions changed", [&] { ::chmod(nativePath.constData(), 0600); }, !hasBirthTime},
        {"deleted and written again",
         [&] {
             ::unlink(nativePath.constData());
             test::writeFile(path, "2");
         },
         true},
        {"replaced by a rename",
         [&] {
             test::writeFile(path + ".new", "2");
             ::rename(renamedFrom.constData(), nativePath.constData());
         },
         true},
        {"rewritten in place", [&] { test::writeFile(path, "2"); }, true},
    };
    for (const auto& [what, change, expected] : cases) {
        test::writeFile(path, "first");
        SeenFiles seen;
        const auto scan = [&] {
            return scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries, distantPast(), seen,
                                         FakeFiles().probes())
                .accepted.size();
        };
        EXPECT_EQ(scan(), 1) << what;
        QThread::msleep(20); // file times must be able to tell the two files apart
        change();
        EXPECT_EQ(scan(), expected ? 1 : 0) << what;
    }
}

// Names are bytes: one that is not UTF-8 is listed, probed (one name by its marker, the other by the
// file's own flag, both read the file) and handed on as a path that leads back to the same name.
TEST(ScreenshotScan, NamesThatAreNotUtf8AreTakenAndOpenAgain)
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
    const ScanResult result = scanForNewScreenshots(dir.path(), listPngFiles(dir.path()).entries,
                                                    distantPast(), seen, ScreenshotProbes::fromFiles());
    QList<QByteArray> accepted;
    for (const QString& path : result.accepted) {
        accepted.append(toNativePath(path));
        EXPECT_EQ(::access(accepted.last().constData(), R_OK), 0);
    }
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(accepted, created);
}

} // namespace
