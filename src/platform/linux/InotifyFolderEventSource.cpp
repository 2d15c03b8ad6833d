#include "platform/linux/InotifyFolderEventSource.h"

#include "core/FileNames.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace quillary {

namespace {

constexpr uint32_t kWatchMask = IN_ONLYDIR | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

constexpr uint32_t kGoneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

struct Drained {
    bool changed = false;
    bool gone = false;
};

// Reads until the queue is empty. Every event counts as a change: the kernel only queues the kinds
// we asked for, plus overflow, which also means the directory must be looked at again. The events
// that end the watch mean the directory is gone. A move of the directory (IN_MOVE_SELF) leaves the
// watch on it, but it is no longer at the watched path, so it counts as gone too.
Drained drain(int descriptor)
{
    alignas(inotify_event) char buffer[16 * 1024];
    Drained drained;
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count > 0) {
            drained.changed = true;
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= count;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & kGoneMask)
                    drained.gone = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        return drained; // EAGAIN: drained; 0 or another error: nothing more to read
    }
}

} // namespace

FolderEventSource::Opened FolderEventSource::open(const QString& path)
{
    return InotifyFolderEventSource::open(path);
}

FolderEventSource::Opened InotifyFolderEventSource::open(const QString& path)
{
    const int inotifyDescriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyDescriptor < 0)
        return {nullptr, errno};

    const QByteArray nativePath = toNativePath(path);
    if (::inotify_add_watch(inotifyDescriptor, nativePath.constData(), kWatchMask) < 0) {
        const int error = errno;
        ::close(inotifyDescriptor);
        return {nullptr, error};
    }

    const int wakeDescriptor = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeDescriptor < 0) {
        const int error = errno;
        ::close(inotifyDescriptor);
        return {nullptr, error};
    }
    return {std::make_unique<InotifyFolderEventSource>(inotifyDescriptor, wakeDescriptor), 0};
}

InotifyFolderEventSource::InotifyFolderEventSource(int inotifyDescriptor, int wakeDescriptor)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->inotifyDescriptor.store(inotifyDescriptor);
    m_shared->wakeDescriptor.store(wakeDescriptor);
}

InotifyFolderEventSource::~InotifyFolderEventSource()
{
    cancel();
    // Still joinable only when destroyed from inside the handler: the thread owns a reference to
    // everything it touches and leaves as soon as the handler returns.
    if (m_worker.joinable())
        m_worker.detach();
}

int InotifyFolderEventSource::descriptor() const
{
    return m_shared->inotifyDescriptor.load();
}

void InotifyFolderEventSource::resume(std::function<void(Event)> handler)
{
    std::lock_guard lock(m_mutex);
    if (m_shared->cancelled.load() || m_worker.joinable())
        return;
    m_shared->handler = std::move(handler);
    m_worker = std::thread(&InotifyFolderEventSource::run, m_shared, m_shared->inotifyDescriptor.load(),
                           m_shared->wakeDescriptor.load());
}

void InotifyFolderEventSource::cancel()
{
    std::thread worker;
    {
        std::lock_guard lock(m_mutex);
        if (!m_shared->cancelled.exchange(true)) {
            // Adding 1 to an eventfd cannot fail short of overflowing its counter.
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written =
                ::write(m_shared->wakeDescriptor.load(), &one, sizeof one);
        }
        // From inside the handler the thread cannot be joined; the next cancel from another thread
        // (or the destructor) deals with it.
        if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id())
            worker = std::move(m_worker);
    }
    if (worker.joinable())
        worker.join();
    // Safe even when the thread is still alive: it is then inside the handler, and checks the
    // cancelled flag before it touches a descriptor again.
    closeDescriptors();
}

void InotifyFolderEventSource::closeDescriptors()
{
    std::lock_guard lock(m_mutex);
    for (std::atomic<int>* descriptor : {&m_shared->inotifyDescriptor, &m_shared->wakeDescriptor}) {
        const int value = descriptor->exchange(-1);
        if (value >= 0)
            ::close(value);
    }
}

void InotifyFolderEventSource::run(const std::shared_ptr<Shared>& shared, int inotifyDescriptor,
                                   int wakeDescriptor)
{
    while (!shared->cancelled.load()) {
        pollfd descriptors[2] = {{inotifyDescriptor, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
        const int ready = ::poll(descriptors, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (shared->cancelled.load() || descriptors[1].revents != 0)
            return;
        if (descriptors[0].revents & POLLIN) {
            const Drained drained = drain(inotifyDescriptor);
            if (shared->cancelled.load())
                return;
            if (drained.gone) {
                shared->handler(Event::gone);
                return;
            }
            if (drained.changed)
                shared->handler(Event::changed);
        }
        if (descriptors[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return;
    }
}

} // namespace quillary
