// The free-number search in a folder already holding Quil_001.png … Quil_10000.png, compared in the
// same binary with probing one name at a time and with the bare directory listings it could use; and
// the whole move of one screenshot into that folder under the next number, as the dispatcher has
// ScreenshotMover do it, beside one readdir pass of the folder.
#include "BenchReport.h"
#include "handle/NamingRule.h"
#include "handle/ScreenshotMover.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dirent.h>
#include <filesystem>
#include <memory>

using namespace quillary;

namespace {

constexpr int fileCount = 10'000;
constexpr double maxMoveRatio = 1.5;
const NamingRule rule{true, QStringLiteral("Quil"), false, QStringLiteral("png")};

QString numberedName(int n)
{
    return QStringLiteral("Quil_%1.png").arg(n, 3, 10, QLatin1Char('0'));
}

struct Folder {
    QTemporaryDir dir;

    Folder()
    {
        for (int n = 1; n <= fileCount; ++n) {
            QFile file(dir.filePath(numberedName(n)));
            file.open(QIODevice::WriteOnly);
        }
    }
};

Folder& folder()
{
    static Folder instance;
    return instance;
}

void NextFreeNumberedName(benchmark::State& state)
{
    const QUrl target = QUrl::fromLocalFile(folder().dir.path());
    const QDate today(2026, 12, 5);
    for (auto _ : state) {
        const QUrl name = nextFreeNumberedName(target, rule, today);
        benchmark::DoNotOptimize(name);
    }
    if (!nextFreeNumberedName(target, rule, today).toLocalFile().endsWith(QStringLiteral("/Quil_10001.png")))
        state.SkipWithError("wrong free name");
}
BENCHMARK(NextFreeNumberedName)->Unit(benchmark::kMillisecond);

// One existence check per number until a free one turns up: 10,001 stat calls here.
void NaiveExistsPerNumber(benchmark::State& state)
{
    const QString path = folder().dir.path();
    for (auto _ : state) {
        int n = 1;
        while (QFileInfo::exists(path + u'/' + numberedName(n)))
            ++n;
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(NaiveExistsPerNumber)->Unit(benchmark::kMillisecond);

// Listings alone. Qt's, with the filters that show every kind of entry, stats each one.
void ListWithQDir(benchmark::State& state)
{
    const QString path = folder().dir.path();
    for (auto _ : state) {
        const QStringList names = QDir(path).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        benchmark::DoNotOptimize(names.size());
    }
}
BENCHMARK(ListWithQDir)->Unit(benchmark::kMillisecond);

// readdir, names decoded to QString or left as bytes (as the search does).
void ListWithReaddir(benchmark::State& state)
{
    const bool decode = state.range(0) != 0;
    const QByteArray path = QFile::encodeName(folder().dir.path());
    for (auto _ : state) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.constData()), &closedir);
        qsizetype count = 0;
        while (const dirent* entry = readdir(dir.get()))
            count += decode ? QFile::decodeName(entry->d_name).size() : 1;
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(ListWithReaddir)->ArgName("decode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void ListWithStdFilesystem(benchmark::State& state)
{
    const std::filesystem::path path(QFile::encodeName(folder().dir.path()).toStdString());
    for (auto _ : state) {
        qsizetype count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            count += QFile::decodeName(entry.path().filename().c_str()).size();
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(ListWithStdFilesystem)->Unit(benchmark::kMillisecond);

// From the call to the finished signal: the name (one listing), the rename into the folder and its
// sync, the hand-over to the worker and back.
void MoveOneRenamedScreenshot(benchmark::State& state)
{
    const QUrl destination = QUrl::fromLocalFile(folder().dir.path());
    const QString placed = folder().dir.filePath(numberedName(fileCount + 1));
    QTemporaryDir watched(folder().dir.path() + QStringLiteral("-watched-XXXXXX")); // same filesystem
    const QString source = watched.filePath(QStringLiteral("Screenshot new.png"));
    ScreenshotMover mover;
    int finished = 0;
    QObject::connect(&mover, &ScreenshotMover::moveFinished, [&] { ++finished; });
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(placed);
        QFile file(source);
        const bool written = file.open(QIODevice::WriteOnly) && file.write("\x89PNG\r\n\x1a\n", 8) == 8;
        file.close();
        state.ResumeTiming();
        mover.moveScreenshot(source, destination, rule);
        mover.waitForDone();
        QCoreApplication::sendPostedEvents(&mover);
        if (!written) {
            state.SkipWithError("cannot write the screenshot");
            break;
        }
    }
    if (!QFile::exists(placed) || finished != state.iterations())
        state.SkipWithError("the screenshot was not moved under the next number");
    QFile::remove(placed);
}
BENCHMARK(MoveOneRenamedScreenshot)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TimeCollector times;
    if (!bench::runBenchmarks(argc, argv, times))
        return 1;
    const double move = times.ms("MoveOneRenamedScreenshot/real_time");
    const double listing = times.ms("ListWithReaddir/decode:0");
    if (move >= 0 && listing >= 0) {
        const double ratio = move / listing;
        bench::report(bench::format("move of one screenshot, renamed, into a %d-file folder", fileCount),
                      bench::format("%.2f ms, %.2fx one readdir pass (%.2f ms)", move, ratio, listing),
                      bench::format("<= %.1fx", maxMoveRatio), "one readdir pass of the folder",
                      ratio <= maxMoveRatio);
    }
    return 0;
}
