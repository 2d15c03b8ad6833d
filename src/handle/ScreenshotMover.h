#pragma once

#include "handle/FileConversion.h"
#include "handle/NamingRule.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>

#include <functional>
#include <optional>

namespace quillary {

// Moves screenshots into destination folders, renaming and converting them by a rule, with the
// slow part (decode, encode, write) on a worker thread.
//
// Names are chosen on the calling (main) thread at the moment of the move and reserved until the
// file exists, so the next move into the same folder takes the next number exactly as if the
// previous one had already finished.
class ScreenshotMover final : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDate()>;

    explicit ScreenshotMover(QObject* parent = nullptr, Clock today = &QDate::currentDate);
    ~ScreenshotMover() override; // waits for moves in progress

    // Starts moving `source` into `targetDirectory` (created if missing). With renaming off the
    // file keeps its name and format; otherwise it gets the rule's next free numbered name and
    // format. Returns the path chosen for a renamed file, so the caller can ignore it when it shows
    // up in a watched folder; nothing when the file keeps its name.
    std::optional<QString> moveScreenshot(const QString& source, const QUrl& targetDirectory,
                                          const NamingRule& rule);
    // moveScreenshot for each of `sources`, in their order, into one folder by one rule; the folder
    // is created and listed once for all of them. One returned entry per source.
    QList<std::optional<QString>> moveScreenshots(const QStringList& sources, const QUrl& targetDirectory,
                                                  const NamingRule& rule);

    // Blocks until every move started so far has finished.
    void waitForDone();
    // For quitting: drops the moves not started yet (their files stay where they are) and waits at
    // most `msecs` for the one in progress; false when it is still running then.
    bool finishCurrentAndDropPending(int msecs);

signals:
    // On the main thread, once per move. `target` is where the file went, which for a renamed move is
    // a later number than the one returned when the name was taken meanwhile (or, on failure, where it
    // would have gone).
    void moveFinished(const QString& source, const QString& target, quillary::PlaceResult result);

private:
    void finish(const QString& source, const QString& reserved, const QString& target, PlaceResult result);

    Clock m_today;
    QSet<QString> m_reservedPaths;
    QThreadPool m_workers;
};

} // namespace quillary
