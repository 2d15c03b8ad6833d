#include "detect/MissingFolderWatch.h"

#include "core/FileNames.h"
#include "core/Threading.h"
#include "platform/FolderEventSource.h"

#include <QCoreApplication>
#include <QDir>

namespace quillary {
namespace {

// The nearest directory above `path` that exists; "/" at worst.
QString nearestExistingAncestor(const QString& path)
{
    QString directory = QDir::cleanPath(path);
    do {
        const qsizetype slash = directory.lastIndexOf(u'/');
        directory = slash > 0 ? directory.left(slash) : QStringLiteral("/");
    } while (directory != u"/" && !isDirectory(directory));
    return directory;
}

// Runs `call` on the main thread from the event loop, unless `alive` has expired by then.
void postWhileAlive(const std::weak_ptr<const bool>& alive, std::function<void()> call)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    postTo(application, [alive, call = std::move(call)] {
        if (!alive.expired())
            call();
    });
}

} // namespace

MissingFolderWatch::MissingFolderWatch(QString path, std::chrono::milliseconds pollInterval)
    : m_path(QDir::cleanPath(path))
{
    m_poll.setInterval(pollInterval);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { check(); });
}

MissingFolderWatch::~MissingFolderWatch()
{
    m_alive.reset();
    m_source.reset(); // joins its thread before the members it reaches go
}

void MissingFolderWatch::start()
{
    m_poll.start();
    postWhileAlive(m_alive, [this] { check(); });
}

void MissingFolderWatch::check()
{
    if (m_appeared)
        return;
    // Moving the watch down may race with the next directory on the way being created: each move
    // is followed by another look.
    while (!isDirectory(m_path)) {
        const QString ancestor = nearestExistingAncestor(m_path);
        if (ancestor == m_watchedDirectory && m_source)
            return;
        watchDirectory(ancestor);
        if (!m_source)
            return; // the poll looks again
    }
    m_appeared = true;
    m_poll.stop();
    m_source.reset();
    m_watchedDirectory.clear();
    // Queued rather than called here, and a copy, so that the owner may destroy this watch inside it.
    postWhileAlive(m_alive, [callback = onAppeared] {
        if (callback)
            callback();
    });
}

void MissingFolderWatch::watchDirectory(const QString& directory)
{
    m_source.reset();
    m_watchedDirectory.clear();
    FolderEventSource::Opened opened = FolderEventSource::open(directory);
    if (!opened.source)
        return;
    m_source = std::move(opened.source);
    m_watchedDirectory = directory;
    const quint64 generation = ++m_sourceGeneration;
    // Every event is a reason to look again, on the main thread. After `gone` this source reports
    // nothing more, even if a directory of its name is back by then, so it is dropped.
    m_source->resume(
        [alive = std::weak_ptr<const bool>(m_alive), this, generation](FolderEventSource::Event event) {
            postWhileAlive(alive, [this, generation, event] {
                if (event == FolderEventSource::Event::gone && generation == m_sourceGeneration) {
                    m_source.reset();
                    m_watchedDirectory.clear();
                }
                check();
            });
        });
}

} // namespace quillary
