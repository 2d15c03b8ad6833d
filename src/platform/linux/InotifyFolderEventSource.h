#pragma once

#include "platform/FolderEventSource.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillary {

// Watches one directory with inotify. A background thread polls the inotify descriptor together
// with an eventfd that wakes it for cancellation, drains every pending event and calls the
// handler once per batch. The end of the watch (IN_DELETE_SELF, IN_MOVE_SELF, IN_UNMOUNT or
// IN_IGNORED) is reported as `gone`, and the thread leaves.
class InotifyFolderEventSource final : public FolderEventSource {
public:
    // Opens the inotify instance and the watch; the error is the errno of whichever step failed.
    static Opened open(const QString& path);

    // Takes ownership of both descriptors.
    explicit InotifyFolderEventSource(int inotifyDescriptor, int wakeDescriptor);
    ~InotifyFolderEventSource() override;

    int descriptor() const override;
    void resume(std::function<void(Event)> handler) override;
    void cancel() override;

private:
    // What the background thread uses. It holds its own reference so that the source may be
    // destroyed from inside the handler without the thread touching freed memory.
    struct Shared {
        std::atomic<int> inotifyDescriptor;
        std::atomic<int> wakeDescriptor;
        std::atomic<bool> cancelled{false};
        std::function<void(Event)> handler; // set before the thread starts, never changed after
    };

    static void run(const std::shared_ptr<Shared>& shared, int inotifyDescriptor, int wakeDescriptor);
    void closeDescriptors();

    std::shared_ptr<Shared> m_shared;
    std::mutex m_mutex; // guards m_worker and the closing of the descriptors
    std::thread m_worker;
};

} // namespace quillary
