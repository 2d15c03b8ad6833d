// One scan of a busy watched folder, at 10,000 and at 100,000 entries: 99 % other files, 1 % older
// screenshots and one new one. Compared, in the same binary, with the least any scan must do (one
// readdir pass plus one statx per .png entry) and, at 10,000, with Qt's own directory listings. Ends
// with the scan's time over that least for each size, against its target.
#include "BenchReport.h"
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
#include <map>
#include <memory>
#include <sys/stat.h>

using namespace quillary;

namespace {

constexpr int sizes[] = {10'000, 100'000};
constexpr double maxScanRatio = 1.5;

struct Folder {
    QTemporaryDir dir;
    QDateTime startedAt;

    explicit Folder(int entries)
    {
        const QByteArray png("\x89PNG\r\n\x1a\n", 8);
        const int screenshots = entries / 100;
        for (int i = 0; i < entries - screenshots; ++i)
            touch(QStringLiteral("document-%1.txt").arg(i), "text");
        // Older screenshots: created before the watch started (birth times cannot be set, so the
        // watch is taken to start a few seconds after they were written).
        for (int i = 0; i < screenshots; ++i)
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

// Made when a benchmark of that size first runs, so a filter that leaves a size out skips its folder.
Folder& folder(int entries)
{
    static std::map<int, std::unique_ptr<Folder>> folders;
    std::unique_ptr<Folder>& made = folders[entries];
    if (!made)
        made = std::make_unique<Folder>(entries);
    return *made;
}

void BareMinimum(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(folder(int(state.range(0))).dir.path());
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
BENCHMARK(BareMinimum)->ArgName("entries")->Arg(sizes[0])->Arg(sizes[1])->Unit(benchmark::kMillisecond);

void QuillaryScan(benchmark::State& state)
{
    const Folder& scanned = folder(int(state.range(0)));
    const QString path = scanned.dir.path();
    const ScreenshotProbes probes = ScreenshotProbes::fromFiles();
    for (auto _ : state) {
        SeenFiles seen; // empty each time: the scan adds what it accepts
        DirectoryListing listing = listPngFiles(path);
        const ScanResult result =
            scanForNewScreenshots(path, std::move(listing.entries), scanned.startedAt, seen, probes);
        if (result.accepted.size() + (result.hasUnfinished ? 1 : 0) != 1)
            state.SkipWithError("the scan should find exactly the one new screenshot");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(QuillaryScan)->ArgName("entries")->Arg(sizes[0])->Arg(sizes[1])->Unit(benchmark::kMillisecond);

void QtDirIterator(benchmark::State& state)
{
    const QString path = folder(int(state.range(0))).dir.path();
    for (auto _ : state) {
        QDirIterator it(path, QDir::Files | QDir::NoDotAndDotDot);
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
BENCHMARK(QtDirIterator)->ArgName("entries")->Arg(sizes[0])->Unit(benchmark::kMillisecond);

void QtEntryInfoList(benchmark::State& state)
{
    const QString path = folder(int(state.range(0))).dir.path();
    for (auto _ : state) {
        const QFileInfoList list = QDir(path).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo& info : list) {
            benchmark::DoNotOptimize(info.birthTime());
            benchmark::DoNotOptimize(info.size());
        }
    }
}
BENCHMARK(QtEntryInfoList)->ArgName("entries")->Arg(sizes[0])->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    bench::TimeCollector times;
    if (!bench::runBenchmarks(argc, argv, times))
        return 1;
    for (const int size : sizes) {
        const std::string entries = "entries:" + std::to_string(size);
        const double scan = times.ms("QuillaryScan/" + entries);
        const double least = times.ms("BareMinimum/" + entries);
        if (scan < 0 || least < 0)
            continue; // filtered out
        const double ratio = scan / least;
        bench::report(bench::format("scan of a %d-entry folder", size),
                      bench::format("%.2f ms, %.2fx the least (%.2f ms)", scan, ratio, least),
                      bench::format("<= %.1fx", maxScanRatio), "readdir + statx per .png entry",
                      ratio <= maxScanRatio);
    }
    return 0;
}
