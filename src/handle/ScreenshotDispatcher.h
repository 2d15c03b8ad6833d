#pragma once

#include "core/PreferenceKeys.h"
#include "handle/ScreenshotMover.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace quillary {

class CuePlayer;
class FolderStore;
class OwnOutputs;
struct FolderConfig;

// What happens to a new screenshot: queued for the card ("showPopup"), moved at once into the
// selected folder ("autoMove"), or left where it is; and the card's actions on the queue's head.
// No widgets: the card and the status item follow the two signals. Main thread only.
class ScreenshotDispatcher final : public QObject {
    Q_OBJECT

public:
    // `cues` may be null (no sound).
    ScreenshotDispatcher(FolderStore& folders, OwnOutputs& ownOutputs, CuePlayer* cues,
                         QObject* parent = nullptr);

    // One scan's new screenshots, oldest first. When any was queued the "Glass" cue plays (if
    // enabled) and the card is asked for.
    void handleNewScreenshots(const QStringList& paths);
    // Reports whether the screenshot was queued for the card.
    bool handleNewScreenshot(const QUrl& file);
    void moveScreenshot(const QUrl& file, const FolderConfig& folder);
    // The card's actions on the screenshot it shows; both go on to the next one.
    void popupMove(const QUrl& file, const QString& folderID);
    void popupDelete(const QUrl& file);
    void playCue(const QString& soundName, const PreferenceKey& levelKey);

    const QList<QUrl>& screenshotQueue() const { return m_screenshotQueue; }
    // Drops queued screenshots that are no longer there.
    void pruneScreenshotQueue();
    // Forgets the queue (pausing); the files stay where they are.
    void clearScreenshotQueue();

    // Blocks until the moves and conversions started so far are done.
    void waitForMoves();
    // Before quitting: drops the moves not started yet and waits at most `msecs` for the one in
    // progress; false when it is still running then.
    bool finishMovesBeforeQuit(int msecs);

signals:
    // After every change of the queue.
    void queueChanged();
    // The card should show the queue's head now (or close when the queue is empty).
    void queueHeadChanged();

private:
    // Queues the screenshots for the card, or moves them at once, as the settings say; reports
    // whether any was queued.
    bool takeScreenshots(const QList<QUrl>& files);
    void moveScreenshots(const QList<QUrl>& files, const FolderConfig& folder);
    void advanceQueue();

    FolderStore& m_folders;
    OwnOutputs& m_ownOutputs;
    CuePlayer* m_cues;
    QList<QUrl> m_screenshotQueue;
    ScreenshotMover m_mover;
};

} // namespace quillary
