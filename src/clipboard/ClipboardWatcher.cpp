#include "clipboard/ClipboardWatcher.h"

#include "clipboard/ClipboardContent.h"

#include "core/Diagnostics.h"
#include "core/Preferences.h"
#include "core/Threading.h"
#include "platform/ClipboardSource.h"

#include <QDateTime>

namespace quillary {
namespace {

ClipboardWatcherHooks completed(ClipboardWatcherHooks hooks, QObject* context)
{
    if (!hooks.now)
        hooks.now = [] { return std::chrono::steady_clock::now(); };
    if (!hooks.secondsSinceEpoch)
        hooks.secondsSinceEpoch = [] { return QDateTime::currentSecsSinceEpoch(); };
    if (!hooks.schedule) {
        hooks.schedule = [context](std::chrono::milliseconds delay, std::function<void()> action) {
            QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(action));
        };
    }
    return hooks;
}

} // namespace

ClipboardWatcher::ClipboardWatcher(Preferences& store, std::unique_ptr<ClipboardSource> source,
                                   OwnOutputs& ownOutputs, ClipboardWatcherHooks hooks, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_source(std::move(source))
    , m_hooks(completed(std::move(hooks), this))
    , m_lastPasteboardChangeCount(m_source ? m_source->changeCount() : 0)
    , m_saver(ownOutputs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_timer.setInterval(tickInterval);
        checkPasteboard();
    });
}

ClipboardWatcher::~ClipboardWatcher()
{
    m_worker.waitForDone();
}

void ClipboardWatcher::startPasteboardTimer()
{
    m_timer.stop();
    m_timer.setInterval(firstTickAfter);
    m_timer.start();
    if (m_source && !m_warnedUnavailable) {
        if (const QString reason = m_source->unavailableReason(); !reason.isEmpty()) {
            printLine(QStringLiteral("⚠️ Quillary: ") + reason);
            m_warnedUnavailable = true;
        }
    }
}

QString ClipboardWatcher::unavailableReason() const
{
    if (!m_source)
        return QStringLiteral("Clipboard saving is not available: this session offers no clipboard to read");
    return m_source->unavailableReason();
}

void ClipboardWatcher::checkPasteboard()
{
    if (m_store.boolValue(prefs::isPaused) || !m_store.boolValue(prefs::isClipboardSyncEnabled))
        return;
    // Within the hold-off the change stays unread, for a later tick.
    if (m_lastDesktopScreenshotAt && m_hooks.now() - *m_lastDesktopScreenshotAt < holdOffAfterScreenshot)
        return;
    if (!m_source)
        return;
    const qint64 changeCount = m_source->changeCount();
    if (changeCount == m_lastPasteboardChangeCount)
        return;
    // From here on this clipboard content is never looked at again, whatever it turns out to be.
    m_lastPasteboardChangeCount = changeCount;

    const QStringList formats = m_source->formats();
    if (offersFileReference(formats, [this](const QString& type) { return m_source->data(type); }))
        return;
    const QString imageFormat = pickImageFormat(formats);
    if (imageFormat.isEmpty())
        return;
    const QByteArray encodedImage = m_source->data(imageFormat);
    if (encodedImage.isEmpty())
        return;
    saveClipboardImage(encodedImage, clipboardFolderPath(m_store.textValue(prefs::clipboardSyncFolder)));
}

void ClipboardWatcher::saveClipboardImage(const QByteArray& encodedImage, const QString& folder)
{
    const qint64 seconds = m_hooks.secondsSinceEpoch();
    m_worker.start([this, encodedImage, folder, seconds] {
        const ClipboardImageSaver::Result result = m_saver.save(encodedImage, folder, seconds);
        postTo(this, [this, result] { imageHandled(result); });
    });
}

void ClipboardWatcher::forgetLastClipboardImage()
{
    m_worker.start([this] { m_saver.forgetLastImage(); });
}

void ClipboardWatcher::noteDesktopScreenshot()
{
    m_lastDesktopScreenshotAt = m_hooks.now();
}

void ClipboardWatcher::waitForSaves()
{
    m_worker.waitForDone();
}

void ClipboardWatcher::imageHandled(const ClipboardImageSaver::Result& result)
{
    using Outcome = ClipboardImageSaver::Outcome;
    if (result.outcome == Outcome::notAnImage)
        return;
    // Every write, done or failed, is forgotten in time; a later forget clears a later image too.
    if (result.outcome == Outcome::written || result.outcome == Outcome::notWritten)
        m_hooks.schedule(forgetImageAfter, [this] { forgetLastClipboardImage(); });
    if (result.outcome == Outcome::written)
        emit imageSaved(result.path);
    emit toastRequested();
    if (m_store.boolValue(prefs::clipboardSoundEnabled))
        m_hooks.schedule(cueAfterToast, [this] { emit cueRequested(); });
}

} // namespace quillary
