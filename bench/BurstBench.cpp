// 1,000 screenshots written into the watched folder within one second, with the real delegate,
// monitor, scan and mover, while the event loop runs as the application's does: once in popup mode
// (each must be queued exactly once, oldest first) and once in auto-move mode with JPEG conversion
// (each must be filed exactly once as a JPEG, nothing left behind). For each: the time until all are
// queued or filed, the app's CPU time, and the longest stall of the UI thread.
//
// `burst_bench [--image PNG]`: the screenshots are PNG scaled to 480 pixels wide (a make-screenshots
// capture is realistic); without it, a drawn one of that size.
#include "BenchReport.h"
#include "app/AppDelegate.h"
#include "core/Preferences.h"
#include "folders/SavedFolders.h"
#include "platform/TrayHostWatcher.h"
#include "support/StallProbe.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace quillary;

namespace {

constexpr int count = 1000;
constexpr double maxStallMs = 100;
constexpr double maxPopupCpuSeconds = 2;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A tray is there, so the icon follows the queue as it does on a desktop.
class PresentTray final : public TrayHostWatcher {
public:
    bool isHostAvailable() const override { return true; }
    void watchForHost() override {}
};

QImage drawnScreenshot()
{
    QImage image(480, 270, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 240));
    QPainter painter(&image);
    painter.fillRect(40, 30, 400, 210, Qt::white);
    painter.fillRect(40, 30, 400, 24, QColor(60, 90, 160));
    painter.setPen(QColor(40, 40, 40));
    for (int line = 0; line < 8; ++line)
        painter.drawText(56, 80 + line * 18, QStringLiteral("Line %1 of a document on the screen").arg(line));
    return image;
}

QByteArray screenshotPng(const QString& imagePath)
{
    QImage image = imagePath.isEmpty() ? drawnScreenshot() : QImage(imagePath);
    if (image.isNull())
        return {};
    if (image.width() > 480)
        image = image.scaledToWidth(480, Qt::SmoothTransformation);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QStringList allEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

struct Outcome {
    bool correct = false;
    QString verdict; // what was found, for the output
    qint64 doneMs = -1;
    double appCpu = 0;
    double stallMs = 0;
    double stallCpuMs = 0;
};

Outcome runBurst(bool autoMove, const QByteArray& png)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share")).toUtf8());
    const QString shots = home.filePath(QStringLiteral("Shots"));
    const QString filed = home.filePath(QStringLiteral("Desktop/Filed"));
    Preferences store(home.filePath(QStringLiteral("Quillary.conf")));
    if (autoMove) {
        const FolderConfig folder{QUuid::createUuid(),
                                  QStringLiteral("Filed"),
                                  QStringLiteral("Desktop/Filed"),
                                  QString(),
                                  true,
                                  QStringLiteral("Shot"),
                                  false,
                                  QStringLiteral("jpg")};
        saveFolders(store, {folder});
        store.setText(prefs::selectedFolderID, folder.idText());
        store.setBool(prefs::showPopup, false);
        store.setBool(prefs::autoMove, true);
    }
    AppServices services;
    services.screenshotFolder = [&] { return shots; };
    services.trayHosts = std::make_unique<PresentTray>();
    AppDelegate delegate(store, std::move(services));
    delegate.applicationDidFinishLaunching();

    const auto done = [&] {
        return autoMove ? allEntries(filed).size() >= count && allEntries(shots).isEmpty()
                        : delegate.screenshotQueue().size() >= count;
    };
    QStringList written;
    std::atomic<bool> writing = true;
    double writerCpu = 0;
    Outcome outcome;
    test::StallProbe probe;
    probe.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        const auto pace = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(pace + std::chrono::microseconds(950) * i);
            const QString path = shots + QStringLiteral("/Screenshot %1.png").arg(i, 4, 10, QLatin1Char('0'));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly) && file.write(png) == png.size())
                written.append(path);
        }
        writerCpu = cpuSeconds(RUSAGE_THREAD);
        writing = false;
    });
    QEventLoop loop;
    QTimer poll;
    QDeadlineTimer deadline(std::chrono::minutes(2));
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (outcome.doneMs < 0 && !writing && done())
            outcome.doneMs = clock.elapsed();
        // Scans still due after the burst belong to its cost: a second more.
        if (deadline.hasExpired() || (outcome.doneMs >= 0 && clock.elapsed() > outcome.doneMs + 1000))
            loop.quit();
    });
    // Listing the destination is not free: looked at less often.
    poll.start(autoMove ? 50 : 10);
    loop.exec();
    writer.join();
    probe.stop();
    outcome.appCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore - writerCpu;
    outcome.stallMs = probe.longestStallMs();
    outcome.stallCpuMs = probe.cpuInLongestStallMs();
    delegate.waitForMoves();

    if (!autoMove) {
        QStringList queued;
        for (const QUrl& url : delegate.screenshotQueue())
            queued.append(url.toLocalFile());
        outcome.correct = written.size() == count && queued == written;
        outcome.verdict =
            outcome.correct ? QStringLiteral("each queued once, oldest first")
                            : QStringLiteral("NOT each queued once in order (%1 queued)").arg(queued.size());
        return outcome;
    }
    const QStringList left = allEntries(shots);
    const QStringList names = allEntries(filed);
    int jpegs = 0;
    for (const QString& name : names) {
        QFile file(QDir(filed).filePath(name));
        if (name.startsWith(QStringLiteral("Shot_")) && name.endsWith(QStringLiteral(".jpg")) &&
            file.open(QIODevice::ReadOnly) && file.read(3) == QByteArray("\xff\xd8\xff", 3))
            ++jpegs;
    }
    outcome.correct = written.size() == count && left.isEmpty() && names.size() == count && jpegs == count;
    outcome.verdict = outcome.correct
                          ? QStringLiteral("each filed once as a JPEG, nothing left behind")
                          : QStringLiteral("NOT each filed once: %1 entries filed (%2 JPEGs), %3 left")
                                .arg(names.size())
                                .arg(jpegs)
                                .arg(left.size());
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype imageAt = args.indexOf(QStringLiteral("--image"));
    const QByteArray png = screenshotPng(imageAt > 0 ? args.value(imageAt + 1) : QString());
    if (png.isEmpty()) {
        std::fprintf(stderr, "burst_bench: cannot read the image\n");
        return 2;
    }
    std::printf("screenshots of %lld bytes each\n", static_cast<long long>(png.size()));

    bool correct = true;
    for (const bool autoMove : {false, true}) {
        const Outcome outcome = runBurst(autoMove, png);
        const std::string mode =
            autoMove ? "burst of 1,000, auto-move to JPEG" : "burst of 1,000, popup mode";
        std::printf("%s: %s\n", mode.c_str(), qPrintable(outcome.verdict));
        correct = correct && outcome.correct;
        bench::report(mode + (autoMove ? ": all filed" : ": all queued"),
                      outcome.doneMs < 0 ? "never"
                                         : bench::format("%lld ms after the first write", outcome.doneMs),
                      "-", "-", outcome.correct ? bench::Verdict::none : bench::Verdict::missed);
        if (autoMove)
            bench::report(mode + ": app CPU", bench::format("%.2f s", outcome.appCpu), "-", "-",
                          bench::Verdict::none);
        else
            bench::report(mode + ": app CPU", bench::format("%.2f s", outcome.appCpu),
                          bench::format("< %.0f s", maxPopupCpuSeconds), "-",
                          outcome.appCpu < maxPopupCpuSeconds);
        // The UI thread's own CPU time in that stall tells its work from waiting for a busy machine.
        bench::report(
            mode + ": longest UI thread stall",
            bench::format("%.1f ms (%.1f ms of it the UI thread's CPU)", outcome.stallMs, outcome.stallCpuMs),
            bench::format("<= %.0f ms", maxStallMs), "-", outcome.stallMs <= maxStallMs);
    }
    return correct ? 0 : 1;
}
