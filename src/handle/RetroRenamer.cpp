#include "handle/RetroRenamer.h"

#include "core/Diagnostics.h"
#include "core/Threading.h"

#include <QThread>

namespace quillary {

RetroRenamer::RetroRenamer(OwnOutputs* ownOutputs, QObject* parent)
    : QObject(parent)
    , m_ownOutputs(ownOutputs)
{
    m_runner.setMaxThreadCount(1);
    m_runner.setThreadPriority(QThread::LowPriority);
}

RetroRenamer::~RetroRenamer()
{
    m_stopping.store(true, std::memory_order_relaxed);
    m_runner.waitForDone();
}

void RetroRenamer::waitForDone()
{
    m_runner.waitForDone();
}

QString RetroRenamer::progressText(const QString& folderName, int current, int total)
{
    return QStringLiteral("Renaming %1 of %2 in %3…").arg(current).arg(total).arg(folderName);
}

void RetroRenamer::start(QList<RetroRenameJob> jobs, QList<FolderConfig> folders, int threads)
{
    if (jobs.isEmpty())
        return;
    ++m_runs;
    // The destructor waits for the runner, so `this` outlives the run; what it posts while being
    // destroyed is dropped with its pending events.
    startOn(m_runner, [this, jobs = std::move(jobs), folders = std::move(folders), threads] {
        RetroRenameOptions options;
        options.threads = threads;
        options.ownOutputs = m_ownOutputs;
        options.stop = &m_stopping;
        RetroRenameObserver observer;
        observer.progress = [this](const FolderConfig& folder, int current, int total) {
            const QString text = progressText(folder.name, current, total);
            postTo(this, [this, text] { emit activityChanged(text); });
        };
        observer.finished = [](const FolderConfig&, const QUrl& directory, const RetroRenameResult& result) {
            QString line = QStringLiteral("📍 Quillary: Renamed %1 files in %2")
                               .arg(result.renamed)
                               .arg(directory.toLocalFile());
            if (result.renamed < result.total)
                line += QStringLiteral(" (%1 left as they were)").arg(result.total - result.renamed);
            printLine(line);
        };
        applyRetroRenames(jobs, folders, options, observer);
        postTo(this, [this] {
            if (--m_runs == 0)
                emit activityChanged(QString());
        });
    });
}

} // namespace quillary
