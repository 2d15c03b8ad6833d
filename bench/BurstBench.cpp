// 1,000 screenshots written into the watched folder within one second, with the real monitor and
// scan: each must be queued exactly once, oldest first, and the app's CPU time must stay low.
#include "app/AppDelegate.h"
#include "core/Preferences.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>
#include <thread>

using namespace quillary;

namespace {

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int count = 1000;

    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    const QString shots = home.filePath(QStringLiteral("Shots"));
    Preferences store(home.filePath(QStringLiteral("Quillary.conf")));
    AppServices services;
    services.screenshotFolder = [&] { return shots; };
    AppDelegate delegate(store, std::move(services));
    delegate.applicationDidFinishLaunching();

    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");

    QStringList written;
    double writerCpu = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        const auto pace = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(pace + std::chrono::microseconds(950) * i);
            const QString path = shots + QStringLiteral("/Screenshot %1.png").arg(i, 4, 10, QLatin1Char('0'));
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(png);
            file.close();
            written.append(path);
        }
        writerCpu = cpuSeconds(RUSAGE_THREAD);
    });
    writer.join();
    const qint64 writeMs = clock.elapsed();
    while (delegate.screenshotQueue().size() < count && clock.elapsed() < 10'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // Let the scans still scheduled by the burst run too: they belong to its cost.
    const qint64 settleUntil = clock.elapsed() + 1000;
    while (clock.elapsed() < settleUntil)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double appCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore - writerCpu;

    QStringList queued;
    for (const QUrl& url : delegate.screenshotQueue())
        queued.append(url.toLocalFile());
    const bool exact = queued == written;
    std::printf("written %d files in %lld ms; queued %lld, %s; app CPU %.3f s (target < 2 s)\n", count,
                static_cast<long long>(writeMs), static_cast<long long>(queued.size()),
                exact ? "each once, oldest first" : "NOT each once in order", appCpu);
    return exact && appCpu < 2.0 ? 0 : 1;
}
