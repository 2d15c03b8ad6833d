// PNG to one-page PDF through writePdf, on the images make-screenshots writes: the 5120x2880, 2880x1800
// and 1920x1080 captures (opaque, so their data is taken over as it is) and the first window capture
// with a transparent shadow (decoded and compressed again). The folder comes from
// QUILLARY_BENCH_IMAGES. `--write DIR` instead writes each PDF to DIR/<image>.pdf once, for checking.
#include "imaging/PdfEncoder.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdio>
#include <utility>
#include <vector>

using namespace quillary;

namespace {

// Short name and path of each image measured; missing ones are left out.
std::vector<std::pair<QString, QString>> benchImages()
{
    const QDir folder(qEnvironmentVariable("QUILLARY_BENCH_IMAGES"));
    std::vector<std::pair<QString, QString>> images;
    for (const char* name : {"5k", "retina", "fhd"}) {
        const QString path = folder.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
        if (QFile::exists(path))
            images.emplace_back(QString::fromLatin1(name), path);
    }
    for (const QString& name :
         folder.entryList({QStringLiteral("Screenshot *.png")}, QDir::Files, QDir::Name)) {
        const QString path = folder.filePath(name);
        if (QImage(1, 1, QImageReader(path).imageFormat()).hasAlphaChannel()) {
            images.emplace_back(QStringLiteral("window-rgba"), path);
            break;
        }
    }
    return images;
}

// The image's bytes, read afresh each time as a conversion reads them.
QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void BM_PngToPdf(benchmark::State& state, const QString& image)
{
    QTemporaryDir work;
    const QString target = work.filePath(QStringLiteral("out.pdf"));
    for (auto _ : state) {
        // A new file each time, as the app writes one: rewriting a truncated file makes ext4 flush it.
        state.PauseTiming();
        QFile::remove(target);
        QFile output(target);
        state.ResumeTiming();
        if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !writePdf(readAll(image), output)) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.counters["pdf_bytes"] = double(QFileInfo(target).size());
    state.counters["png_bytes"] = double(QFileInfo(image).size());
}

int writeAll(const QString& folder)
{
    int failures = 0;
    for (const auto& [name, path] : benchImages()) {
        QFile output(QDir(folder).filePath(name + QStringLiteral(".pdf")));
        const bool ok =
            output.open(QIODevice::WriteOnly | QIODevice::Truncate) && writePdf(readAll(path), output);
        std::printf("%s\t%s\t%s\n", qPrintable(name), qPrintable(path), ok ? "ok" : "FAILED");
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--write") == 0)
        return writeAll(QString::fromLocal8Bit(argv[2]));
    const auto images = benchImages();
    if (images.empty()) {
        std::fprintf(stderr, "no images: set QUILLARY_BENCH_IMAGES to a make-screenshots folder\n");
        return 1;
    }
    for (const auto& [name, path] : images)
        benchmark::RegisterBenchmark(("BM_PngToPdf/" + name).toStdString().c_str(), BM_PngToPdf, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
