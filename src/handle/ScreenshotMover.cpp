#include "handle/ScreenshotMover.h"

#include "core/FileNames.h"
#include "core/Threading.h"

#include <filesystem>
#include <system_error>

namespace quillary {
namespace {

// How often a renamed move takes the next number when its name is taken in the meantime.
constexpr int maxNameAttempts = 100;

} // namespace

ScreenshotMover::ScreenshotMover(QObject* parent, Clock today)
    : QObject(parent)
    , m_today(std::move(today))
{
    // One worker keeps conversions in the order they were asked for and the UI thread free.
    m_workers.setMaxThreadCount(1);
}

ScreenshotMover::~ScreenshotMover()
{
    m_workers.waitForDone();
}

void ScreenshotMover::waitForDone()
{
    m_workers.waitForDone();
}

bool ScreenshotMover::finishCurrentAndDropPending(int msecs)
{
    m_workers.clear();
    return m_workers.waitForDone(msecs);
}

std::optional<QString> ScreenshotMover::moveScreenshot(const QString& source, const QUrl& targetDirectory,
                                                       const NamingRule& rule)
{
    return moveScreenshots({source}, targetDirectory, rule).first();
}

QList<std::optional<QString>> ScreenshotMover::moveScreenshots(const QStringList& sources,
                                                               const QUrl& targetDirectory,
                                                               const NamingRule& rule)
{
    const QString directory = targetDirectory.toLocalFile();
    std::error_code ignored; // a failure shows up as a failed move
    std::filesystem::create_directories(toNativePath(directory).toStdString(), ignored);

    const bool renames = rule.isRenamingEnabled;
    const QDate today = m_today();
    QStringList targets;
    if (renames) {
        // One listing of the folder for the whole batch: a burst of screenshots does not list it
        // once per file.
        for (const QUrl& name :
             nextFreeNumberedNames(targetDirectory, rule, today, sources.size(), m_reservedPaths))
            targets.append(name.toLocalFile());
        for (const QString& target : targets)
            m_reservedPaths.insert(target);
    } else {
        // The name is taken over as it is, bytes that are not UTF-8 included.
        for (const QString& source : sources)
            targets.append(joinPath(directory, source.sliced(source.lastIndexOf(u'/') + 1)));
    }
    // A plain move keeps the bytes untouched.
    const QString format = renames ? rule.fileFormat : QStringLiteral("png");

    // A copy of its own for the workers: Qt's implicit sharing would leave the workers and the main
    // thread on one hash, which the main thread changes in place once it is no longer shared. The
    // workers only read this copy, so the batch's moves share it.
    QSet<QString> reservedNow = m_reservedPaths;
    reservedNow.detach();
    QList<std::optional<QString>> renamedTo;
    renamedTo.reserve(sources.size());
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString& source = sources[i];
        const QString& target = targets.value(i);
        // The destructor waits for the workers, so `this` outlives every job; a result posted while it
        // is being destroyed is dropped with its pending events.
        startOn(m_workers, [this, source, target, format, rule, renames, reservedNow, today,
                            targetDirectory] {
            QString placedAt = target;
            // Converted once; only putting it in place is repeated.
            PreparedPlacement prepared = prepareConversion(source, placedAt, format);
            PlaceResult result = prepared.commit(placedAt);
            // A file that appeared at the chosen name in the meantime is never replaced: take the next
            // free number instead. Without renaming, the file simply stays where it is.
            QSet<QString> taken = reservedNow;
            for (int attempt = 1; renames && result == PlaceResult::targetExists && attempt < maxNameAttempts;
                 ++attempt) {
                taken.insert(placedAt);
                placedAt = nextFreeNumberedName(targetDirectory, rule, today, taken).toLocalFile();
                result = prepared.commit(placedAt);
            }
            postTo(this,
                   [this, source, target, placedAt, result] { finish(source, target, placedAt, result); });
        });
        renamedTo.append(renames ? std::optional<QString>(target) : std::nullopt);
    }
    return renamedTo;
}

void ScreenshotMover::finish(const QString& source, const QString& reserved, const QString& target,
                             PlaceResult result)
{
    m_reservedPaths.remove(reserved);
    emit moveFinished(source, target, result);
}

} // namespace quillary
