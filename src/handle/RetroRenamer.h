#pragma once

#include "handle/RetroRename.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>

namespace quillary {

class OwnOutputs;

// Runs committed rename jobs in the background, at low priority, one run after another (two runs
// over the same folder at once would only fight over the numbers), and says what it is doing.
class RetroRenamer final : public QObject {
    Q_OBJECT

public:
    explicit RetroRenamer(OwnOutputs* ownOutputs = nullptr, QObject* parent = nullptr);
    // Lets the file in progress finish, starts no other, and waits for that.
    ~RetroRenamer() override;

    // Runs `jobs` over `folders` (both copies, so later edits do not change a run) after the runs
    // started before. `threads` as in RetroRenameOptions.
    void start(QList<RetroRenameJob> jobs, QList<FolderConfig> folders, int threads = 0);
    // Blocks until every run started so far has ended.
    void waitForDone();

    // "Renaming 3 of 12 in Work…"
    static QString progressText(const QString& folderName, int current, int total);

signals:
    // On the main thread: progressText while a run goes, an empty text once none does.
    void activityChanged(const QString& text);

private:
    OwnOutputs* m_ownOutputs;
    int m_runs = 0; // started and not yet ended; main thread only
    std::atomic<bool> m_stopping{false};
    QThreadPool m_runner;
};

} // namespace quillary
