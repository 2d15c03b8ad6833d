// The free-number search in a folder already holding Quil_001.png … Quil_10000.png, compared in the
// same binary with probing one name at a time and with the bare directory listings it could use.
#include "handle/NamingRule.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();
