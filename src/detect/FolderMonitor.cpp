#include "detect/FolderMonitor.h"

#include "core/Diagnostics.h"
#include "core/Threading.h"
#include "platform/FolderEventSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace quillary {

namespace {

// The monitor whose `onFolderChanged` is running on this thread, so that `cancel` knows it cannot
// wait for that thread.
thread_local const FolderMonitor* t_deliveringMonitor = nullptr;

} // namespace

FolderMonitor::FolderMonitor(QUrl folderURL)
    : m_folderURL(std::move(folderURL))
{
}

FolderMonitor::~FolderMonitor()
{
    cancel();
}

void FolderMonitor::start()
{
    std::unique_lock lock(m_sourceMutex);
    if (m_monitorSource)
        return;

    const QString fullPath = m_folderURL.toLocalFile();
    FolderEventSource::Opened opened = FolderEventSource::open(fullPath);
    if (!opened.source) {
        m_fileDescriptor.store(-1);
        QCoreApplication* application = QCoreApplication::instance();
        if ((opened.error == ENOENT || opened.error == ENOTDIR) && onFolderGone && application) {
            // Gone (again) before the watch could begin: reported as a watch that ended, so that the
            // owner waits for the folder to come back. Dropped once the monitor is cancelled.
            m_watchAlive = std::make_shared<const bool>(true);
            postTo(application, [alive = std::weak_ptr<const bool>(m_watchAlive), gone = onFolderGone] {
                if (!alive.expired())
                    gone();
            });
        }
        lock.unlock();
        errno = opened.error;
        printLine(QStringLiteral("❌ Error: Could not open folder for monitoring at ") + fullPath +
                  QStringLiteral(". Reason: ") + QString::fromLocal8Bit(std::strerror(errno)));
        if (opened.error == EACCES && onPermissionDenied && application) {
            // A copy, not `this`: the monitor may be gone by the time the event loop runs this.
            postTo(application, [callback = onPermissionDenied] { callback(); });
        }
        return;
    }

    m_fileDescriptor.store(opened.source->descriptor());
    m_monitorSource = std::move(opened.source);
    m_watchAlive = std::make_shared<const bool>(true);
    // `this` is safe here: the source is cancelled, and its thread joined, before the monitor dies.
    m_monitorSource->resume([this, alive = std::weak_ptr<const bool>(m_watchAlive),
                             gone = onFolderGone](FolderEventSource::Event event) {
        if (event == FolderEventSource::Event::gone) {
            // Queued to the main thread with a copy of the callback, and dropped there if the
            // watch has been cancelled (or the monitor destroyed) in the meantime.
            if (QCoreApplication* application = QCoreApplication::instance(); application && gone) {
                postTo(application, [alive, gone] {
                    if (!alive.expired())
                        gone();
                });
            }
            return;
        }
        t_deliveringMonitor = this;
        if (onFolderChanged)
            onFolderChanged();
        t_deliveringMonitor = nullptr;
    });
    lock.unlock();
    printLine(QStringLiteral("📍 Quillary: Watching ") + QFileInfo(QDir::cleanPath(fullPath)).fileName() +
              QStringLiteral("..."));
}

void FolderMonitor::cancel()
{
    if (t_deliveringMonitor == this) {
        // Inside our own handler: stop delivery and close now, but leave the join of this very
        // thread to the main thread (next `cancel` or the destructor).
        std::lock_guard lock(m_sourceMutex);
        m_fileDescriptor.store(-1);
        m_watchAlive.reset();
        if (m_monitorSource) {
            m_monitorSource->cancel();
            m_retiredSources.push_back(std::move(m_monitorSource));
        }
        return;
    }

    std::unique_ptr<FolderEventSource> source;
    std::vector<std::unique_ptr<FolderEventSource>> retired;
    {
        std::lock_guard lock(m_sourceMutex);
        m_fileDescriptor.store(-1);
        m_watchAlive.reset();
        source = std::move(m_monitorSource);
        retired.swap(m_retiredSources);
    }
    // Outside the lock: a handler that is running may itself call `cancel` before it returns.
    source.reset();
    retired.clear();
}

} // namespace quillary
