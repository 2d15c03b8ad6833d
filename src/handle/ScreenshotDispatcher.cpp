#include "handle/ScreenshotDispatcher.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"
#include "core/OwnOutputs.h"
#include "core/Preferences.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "handle/CuePlayer.h"
#include "handle/NamingRule.h"
#include "platform/Trash.h"

#include <QCoreApplication>

namespace quillary {
namespace {

// The global renaming options as one rule; it applies when it is on.
NamingRule globalNamingRule(const Preferences& store)
{
    return NamingRule{
        .isRenamingEnabled = store.boolValue(prefs::isGlobalRenamingEnabled),
        .prefix = store.textValue(prefs::globalNamingPrefix),
        .includeDate = store.boolValue(prefs::globalIncludeDate),
        .fileFormat = store.textValue(prefs::globalFileFormat),
    };
}

} // namespace

ScreenshotDispatcher::ScreenshotDispatcher(FolderStore& folders, OwnOutputs& ownOutputs, CuePlayer* cues,
                                           QObject* parent)
    : QObject(parent)
    , m_folders(folders)
    , m_ownOutputs(ownOutputs)
    , m_cues(cues)
{
    connect(&m_mover, &ScreenshotMover::moveFinished, this,
            [this](const QString& source, const QString& target, PlaceResult result) {
                // Our own output, under the name it finally got, is never taken for a new screenshot.
                if (isPlaced(result))
                    m_ownOutputs.add(target);
                else
                    printLine(QStringLiteral("❌ Move failed: ") + source + QStringLiteral(" → ") + target +
                              QStringLiteral(": ") + failureReason(result));
            });
}

void ScreenshotDispatcher::handleNewScreenshots(const QStringList& paths)
{
    QList<QUrl> files;
    for (const QString& path : paths)
        files.append(QUrl::fromLocalFile(path));
    if (!takeScreenshots(files))
        return;
    emit queueChanged();
    if (m_folders.preferences().boolValue(prefs::popupSoundEnabled))
        playCue(QStringLiteral("Glass"), prefs::popupSoundLevel);
    emit queueHeadChanged();
}

bool ScreenshotDispatcher::handleNewScreenshot(const QUrl& file)
{
    return takeScreenshots({file});
}

bool ScreenshotDispatcher::takeScreenshots(const QList<QUrl>& files)
{
    const Preferences& store = m_folders.preferences();
    // "showPopup" wins when both modes are on.
    if (store.boolValue(prefs::showPopup)) {
        m_screenshotQueue.append(files);
        return !files.isEmpty();
    }
    // Moved together: the folder's free numbers are looked up once, not per screenshot.
    if (store.boolValue(prefs::autoMove)) {
        if (const auto folder = m_folders.find(store.textValue(prefs::selectedFolderID)))
            moveScreenshots(files, *folder);
    }
    return false;
}

void ScreenshotDispatcher::moveScreenshot(const QUrl& file, const FolderConfig& folder)
{
    moveScreenshots({file}, folder);
}

void ScreenshotDispatcher::moveScreenshots(const QList<QUrl>& files, const FolderConfig& folder)
{
    QStringList sources;
    for (const QUrl& file : files)
        sources.append(file.toLocalFile());
    const QList<std::optional<QString>> renamedTo =
        m_mover.moveScreenshots(sources, configDirectoryURL(folder),
                                effectiveNamingRule(folder, globalNamingRule(m_folders.preferences())));
    // Our own output must never be taken for a new screenshot, even before it exists.
    for (const std::optional<QString>& target : renamedTo) {
        if (target)
            m_ownOutputs.add(*target);
    }
}

void ScreenshotDispatcher::popupMove(const QUrl& file, const QString& folderID)
{
    if (const auto folder = m_folders.find(folderID))
        moveScreenshot(file, *folder);
    advanceQueue();
}

void ScreenshotDispatcher::popupDelete(const QUrl& file)
{
    (void)moveToTrash(file.toLocalFile()); // a file that cannot be trashed stays where it is
    advanceQueue();
}

void ScreenshotDispatcher::advanceQueue()
{
    if (!m_screenshotQueue.isEmpty())
        m_screenshotQueue.removeFirst();
    emit queueChanged();
    emit queueHeadChanged();
}

void ScreenshotDispatcher::pruneScreenshotQueue()
{
    // By the file system's bytes: a name that is not valid UTF-8 must not look like a missing file.
    const qsizetype removed =
        m_screenshotQueue.removeIf([](const QUrl& file) { return !pathExists(file.toLocalFile()); });
    if (removed > 0)
        emit queueChanged();
}

void ScreenshotDispatcher::clearScreenshotQueue()
{
    m_screenshotQueue.clear();
    emit queueChanged();
}

void ScreenshotDispatcher::playCue(const QString& soundName, const PreferenceKey& levelKey)
{
    if (m_cues)
        m_cues->playCue(soundName, m_folders.preferences().textValue(levelKey));
}

void ScreenshotDispatcher::waitForMoves()
{
    m_mover.waitForDone();
    QCoreApplication::sendPostedEvents(&m_mover);
}

bool ScreenshotDispatcher::finishMovesBeforeQuit(int msecs)
{
    const bool done = m_mover.finishCurrentAndDropPending(msecs);
    QCoreApplication::sendPostedEvents(&m_mover);
    return done;
}

} // namespace quillary
