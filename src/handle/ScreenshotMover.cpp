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
    const QString directory = targetDirectory.toLocalFile();
    std::error_code ignored; // a failure shows up as a failed move
    std::filesystem::create_directories(toNativePath(directory).toStdString(), ignored);

    QString target;
    QString format;
    const bool renames = rule.isRenamingEnabled;
    if (renames) {
        target = nextFreeNumberedName(targetDirectory, rule, m_today(), m_reservedPaths).toLocalFile();
        format = rule.fileFormat;
        m_reservedPaths.insert(target);
    } else {
        // The name is taken over as it is, bytes that are not UTF-8 included.
        const QString name = source.sliced(source.lastIndexOf(u'/') + 1);
        target = joinPath(directory, name);
        format = QStringLiteral("png"); // a plain move: the bytes are not touched
    }

    // A copy of its own for the worker: Qt's implicit sharing would leave the worker and the main
    // thread on one hash, which the main thread changes in place once it is no longer shared.
    QSet<QString> reservedNow = m_reservedPaths;
    reservedNow.detach();
    const QDate today = m_today();
    // The destructor waits for the workers, so `this` outlives every job; a result posted while it
    // is being destroyed is dropped with its pending events.
    startOn(m_workers, [this, source, target, format, rule, renames, reservedNow, today, targetDirectory] {
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
        postTo(this, [this, source, target, placedAt, result] { finish(source, target, placedAt, result); });
    });
    return renames ? std::optional<QString>(target) : std::nullopt;
}

void ScreenshotMover::finish(const QString& source, const QString& reserved, const QString& target,
                             PlaceResult result)
{
    m_reservedPaths.remove(reserved);
    emit moveFinished(source, target, result);
}

} // namespace quillary
