#pragma once

#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quillary {

class FolderEventSource;

// Watches one directory and reports, without detail, that its contents changed, plus the two
// failures the application reacts to: being refused access, and the directory going away (deleted,
// moved elsewhere or unmounted), which ends the watch.
//
// `start`, cancellation and destruction happen on the main thread. `onFolderChanged` is called on a
// background thread; `onPermissionDenied` and `onFolderGone` on the main thread. Destroying the
// monitor stops delivery first: no `onFolderChanged` or `onFolderGone` runs after `cancel` or the
// destructor returns.
class FolderMonitor final {
public:
    explicit FolderMonitor(QUrl folderURL);
    ~FolderMonitor();

    FolderMonitor(const FolderMonitor&) = delete;
    FolderMonitor& operator=(const FolderMonitor&) = delete;

    // Opens the folder and starts delivery; a second call does nothing.
    void start();

    // Stops delivery and closes the descriptor (the owner's way to stop a watch).
    void cancel();

    const QUrl& folderURL() const { return m_folderURL; }
    // Descriptor of the open watch, or -1 when nothing is open.
    int fileDescriptor() const { return m_fileDescriptor.load(); }
    // The running source, from a successful `start` until it is cancelled.
    FolderEventSource* monitorSource() const { return m_monitorSource.get(); }

    std::function<void()> onFolderChanged;
    std::function<void()> onPermissionDenied;
    std::function<void()> onFolderGone;

private:
    const QUrl m_folderURL;
    std::atomic<int> m_fileDescriptor{-1};
    std::unique_ptr<FolderEventSource> m_monitorSource;
    // Guards the two source members: `cancel` may also come from inside `onFolderChanged`.
    std::mutex m_sourceMutex;
    // Sources cancelled from inside their own handler; their thread is joined on the main thread.
    std::vector<std::unique_ptr<FolderEventSource>> m_retiredSources;
    // Alive from `start` to `cancel`; a queued `onFolderGone` runs only while its watch still is.
    std::shared_ptr<const bool> m_watchAlive;
};

} // namespace quillary
