// PNG to JPEG (quality 90, 4:4:4) through convertAndPlace, on the images make-screenshots writes:
// one 5120x2880 capture, and a batch of ordinary screenshots on two worker threads as the app runs
// them. The folder comes from QUILLARY_BENCH_IMAGES. `--peak-memory FILE` instead converts FILE once
// and prints how far that raised the peak resident size, next to the decoded image's size.
#include "handle/FileConversion.h"
#include "handle/ScreenshotMover.h"
#include "imaging/ImageLimits.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillary;

namespace {

QString imageFolder()
{
    return qEnvironmentVariable("QUILLARY_BENCH_IMAGES");
}

// convertAndPlace removes its source, so each run converts a fresh hard link to the image.
bool linkTo(const QString& image, const QString& link)
{
    return ::link(QFile::encodeName(image).constData(), QFile::encodeName(link).constData()) == 0;
}

void BM_FiveKPngToJpeg(benchmark::State& state)
{
    const QString image = QDir(imageFolder()).filePath(QStringLiteral("5k.png"));
    if (!QFile::exists(image)) {
        state.SkipWithError("5k.png missing: set QUILLARY_BENCH_IMAGES");
        return;
    }
    // The link must live on the image's filesystem; the output goes next to it.
    const QString source = image + QStringLiteral(".bench-source");
    const QString target = image + QStringLiteral(".bench.jpg");
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(target);
        QFile::remove(source);
        const bool linked = linkTo(image, source);
        state.ResumeTiming();
        if (!linked || convertAndPlace(source, target, QStringLiteral("jpg")) != PlaceResult::placed) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    QFile::remove(target);
    QFile::remove(source);
}
BENCHMARK(BM_FiveKPngToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// What auto-move does with a burst of screenshots: each gets its numbered name on the calling
// thread and is converted by the mover's worker.
void BM_ScreenshotBatchToJpeg(benchmark::State& state)
{
    const QDir folder(imageFolder());
    const QStringList names = folder.entryList({QStringLiteral("Screenshot *.png")}, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        state.SkipWithError("no screenshots: set QUILLARY_BENCH_IMAGES");
        return;
    }
    const NamingRule rule{true, QStringLiteral("Quil"), false, QStringLiteral("jpg")};
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir work(folder.filePath(QStringLiteral(".bench-XXXXXX")));
        bool linked = work.isValid();
        for (const QString& name : names)
            linked = linked && linkTo(folder.filePath(name), work.filePath(name));
        const QUrl target = QUrl::fromLocalFile(work.filePath(QStringLiteral("Filed")));
        state.ResumeTiming();
        {
            ScreenshotMover mover;
            for (const QString& name : names)
                mover.moveScreenshot(work.filePath(name), target, rule);
            mover.waitForDone();
        }
        state.PauseTiming();
        const qsizetype filed = QDir(target.toLocalFile()).entryList(QDir::Files).size();
        state.ResumeTiming();
        if (!linked || filed != names.size()) {
            state.SkipWithError("a conversion failed");
            break;
        }
    }
    state.SetLabel(std::to_string(names.size()) + " images");
}
BENCHMARK(BM_ScreenshotBatchToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int measurePeakMemory(const QString& image)
{
    QTemporaryDir work(QFileInfo(image).absolutePath() + QStringLiteral("/.bench-XXXXXX"));
    const QString source = work.filePath(QStringLiteral("source.png"));
    const QSize size = QImageReader(image).size();
    if (!work.isValid() || !linkTo(image, source) || !size.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(image));
        return 1;
    }
    const long before = peakResidentKiB();
    const PlaceResult result = convertAndPlace(source, work.filePath(QStringLiteral("out.jpg")), "jpg");
    const long after = peakResidentKiB();
    const double decodedMiB = double(size.width()) * size.height() * 4 / (1 << 20);
    const double raisedMiB = double(after - before) / 1024;
    std::printf("peak memory of one conversion: %.1f MiB over a baseline of %.1f MiB; decoded image %.1f "
                "MiB; ratio %.2f\n",
                raisedMiB, double(before) / 1024, decodedMiB, raisedMiB / decodedMiB);
    return result == PlaceResult::placed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    applyImageDecodingLimits();
    if (argc == 3 && qstrcmp(argv[1], "--peak-memory") == 0)
        return measurePeakMemory(QString::fromLocal8Bit(argv[2]));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
