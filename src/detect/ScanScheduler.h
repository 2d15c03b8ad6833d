#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

namespace quillary {

// Decides when the watched folder is scanned (main thread only).
//
// Every folder event is followed by a scan that starts at least `delay` after it; events that come
// while a scan is already due share it, so a burst of events costs a few scans instead of one each.
// While a scan leaves unfinished screenshots behind, the folder is scanned again every
// `followUpInterval` for up to `followUpWindow`, because some tools finish a file without any
// further folder event.
class ScanScheduler final : public QObject {
    Q_OBJECT

public:
    using Milliseconds = std::chrono::milliseconds;

    ScanScheduler(std::function<void(const QUrl&)> runScan, std::function<bool()> isPaused,
                  QObject* parent = nullptr, Milliseconds delay = Milliseconds(400),
                  Milliseconds followUpInterval = Milliseconds(500), Milliseconds followUpWindow = Milliseconds(10'000));

    void folderChanged(const QUrl& folder);
    // Called by the scan when it is done.
    void scanFinished(bool leftUnfinishedScreenshots);

private:
    void runDueScan();

    std::function<void(const QUrl&)> m_runScan;
    std::function<bool()> m_isPaused;
    const Milliseconds m_delay;
    const Milliseconds m_followUpWindow;

    QElapsedTimer m_clock;
    QUrl m_folder;
    qint64 m_lastEventAt = -1;
    qint64 m_scanArmedAt = -1;
    QTimer m_scanTimer;
    qint64 m_followUpUntil = -1; // -1: no follow-up window open
    QTimer m_followUpTimer;
};

} // namespace quillary
