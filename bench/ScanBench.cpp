// One scan of a busy watched folder: 9,900 other files, 100 older screenshots and 1 new one.
// Compared, in the same binary, with the least any scan must do (one readdir pass plus one statx per
// .png entry) and with Qt's own directory listings.
#include "detect/ScreenshotScan.h"
#include "platform/DirectoryListing.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

using namespace quillary;

namespace {

struct Folder {
    QTemporaryDir dir;
    QDateTime startedAt;

    Folder()
    {
        const QByteArray png("\x89PNG\r\n\x1a\n", 8);
        for (int i = 0; i < 9900; ++i)
            touch(QStringLiteral("document-%1.txt").arg(i), "text");
        // Older screenshots: created before the watch started (birth times cannot be set, so the
        // watch is taken to start a few seconds after they were written).
        for (int i = 0; i < 100; ++i)
            touch(QStringLiteral("Screenshot old %1.png").arg(i), png);
        QThread::sleep(3);
        startedAt = QDateTime::currentDateTimeUtc();
        touch(QStringLiteral("Screenshot new.png"), png);
    }

    void touch(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
};

Folder& folder()
{
    static Folder instance;
    return instance;
}

void BareMinimum(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(folder().dir.path());
    for (auto _ : state) {
        DIR* dir = opendir(path.constData());
        const int fd = dirfd(dir);
        int pngs = 0;
        while (const dirent* entry = readdir(dir)) {
            const size_t length = strlen(entry->d_name);
            if (length < 4 || strcasecmp(entry->d_name + length - 4, ".png") != 0)
                continue;
            struct statx status {};
            statx(fd, entry->d_name, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_SIZE, &status);
            benchmark::DoNotOptimize(status);
            ++pngs;
        }
        closedir(dir);
        benchmark::DoNotOptimize(pngs);
    }
}
BENCHMARK(BareMinimum)->Unit(benchmark::kMillisecond);

void QuillaryScan(benchmark::State& state)
{
    const QString path = folder().dir.path();
    const ScreenshotProbes probes = ScreenshotProbes::fromFiles();
    for (auto _ : state) {
        SeenFiles seen; // empty each time: the scan adds what it accepts
        DirectoryListing listing = listPngFiles(path);
        const ScanResult result =
            scanForNewScreenshots(path, std::move(listing.entries), folder().startedAt, seen, probes);
        if (result.accepted.size() + (result.hasUnfinished ? 1 : 0) != 1)
            state.SkipWithError("the scan should find exactly the one new screenshot");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(QuillaryScan)->Unit(benchmark::kMillisecond);

void QtDirIterator(benchmark::State& state)
{
    for (auto _ : state) {
        QDirIterator it(folder().dir.path(), QDir::Files | QDir::NoDotAndDotDot);
        int count = 0;
        while (it.hasNext()) {
            it.next();
            benchmark::DoNotOptimize(it.fileInfo().birthTime());
            benchmark::DoNotOptimize(it.fileInfo().size());
            ++count;
        }
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(QtDirIterator)->Unit(benchmark::kMillisecond);

void QtEntryInfoList(benchmark::State& state)
{
    for (auto _ : state) {
        const QFileInfoList list =
            QDir(folder().dir.path()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo& info : list) {
            benchmark::DoNotOptimize(info.birthTime());
            benchmark::DoNotOptimize(info.size());
        }
    }
}
BENCHMARK(QtEntryInfoList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
