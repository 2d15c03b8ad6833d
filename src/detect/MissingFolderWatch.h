#pragma once

#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace quillary {

class FolderEventSource;

// Waits for a folder that is not there to appear (main thread only).
//
// Watches the nearest directory above it that exists, and looks again whenever that directory's
// entries change: when a missing directory on the way has appeared, the watch moves down to it;
// when the watched directory itself goes away, it moves up. A slow poll backs this up where no
// directory on the way can be watched, or an event could not tell (a directory above it renamed).
class MissingFolderWatch final {
public:
    explicit MissingFolderWatch(QString path,
                                std::chrono::milliseconds pollInterval = std::chrono::milliseconds(5000));
    ~MissingFolderWatch();

    MissingFolderWatch(const MissingFolderWatch&) = delete;
    MissingFolderWatch& operator=(const MissingFolderWatch&) = delete;

    // Starts waiting. `onAppeared` then runs once, on the main thread from the event loop (never
    // inside `start`), as soon as the folder is a directory again; not after the watch is destroyed,
    // which may happen inside `onAppeared`.
    void start();

    // The directory whose entries are watched now; empty when none could be opened, or once the
    // folder has appeared.
    const QString& watchedDirectory() const { return m_watchedDirectory; }

    std::function<void()> onAppeared;

private:
    void check();
    void watchDirectory(const QString& directory);

    const QString m_path;
    QString m_watchedDirectory;
    std::unique_ptr<FolderEventSource> m_source;
    quint64 m_sourceGeneration = 0; // tells the current source's events from earlier ones
    QTimer m_poll;
    bool m_appeared = false;
    // Queued calls hold a weak reference: they do nothing once the watch is gone.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};

} // namespace quillary
