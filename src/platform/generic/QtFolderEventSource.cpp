#include "platform/generic/QtFolderEventSource.h"

#include "core/FileNames.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillary {

FolderEventSource::Opened FolderEventSource::open(const QString& path)
{
    const int descriptor = ::open(toNativePath(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return {nullptr, errno};
    return {std::make_unique<QtFolderEventSource>(path, descriptor), 0};
}

QtFolderEventSource::QtFolderEventSource(QString path, int directoryDescriptor)
    : m_path(std::move(path))
    , m_descriptor(directoryDescriptor)
{
}

QtFolderEventSource::~QtFolderEventSource()
{
    cancel();
}

void QtFolderEventSource::resume(std::function<void(Event)> handler)
{
    if (m_thread || m_cancelled.load())
        return;
    m_handler = std::move(handler);
    m_thread = std::make_unique<QThread>();
    m_watcher = new QFileSystemWatcher;
    m_watcher->moveToThread(m_thread.get());
    // The watcher is the context, so the handler runs on m_thread.
    // The watcher drops a directory that went away after reporting it one last time.
    QObject::connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_watcher, [this] {
        if (m_cancelled.load() || m_gone)
            return;
        m_gone = !QFileInfo(m_path).isDir();
        m_handler(m_gone ? Event::gone : Event::changed);
    });
    QObject::connect(m_thread.get(), &QThread::finished, m_watcher, &QObject::deleteLater);
    m_thread->start();
    // Queued to m_thread, so the watcher's engine is created where it will run.
    QMetaObject::invokeMethod(m_watcher, [watcher = m_watcher, path = m_path] { watcher->addPath(path); });
}

void QtFolderEventSource::cancel()
{
    m_cancelled.store(true);
    if (m_thread) {
        m_thread->quit();
        // From inside the handler the thread cannot wait for itself; the destructor, on the owner's
        // thread, waits instead.
        if (QThread::currentThread() != m_thread.get()) {
            m_thread->wait();
            m_thread.reset();
        }
    }
    const int descriptor = m_descriptor.exchange(-1);
    if (descriptor >= 0)
        ::close(descriptor);
}

} // namespace quillary
