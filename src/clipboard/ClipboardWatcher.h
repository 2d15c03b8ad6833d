#pragma once

#include "clipboard/ClipboardImageSaver.h"
#include "core/Threading.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quillary {

class ClipboardSource;
class OwnOutputs;
class Preferences;

// The clocks and the timer the watcher goes by; tests replace them to step time by hand.
struct ClipboardWatcherHooks {
    using Instant = std::chrono::steady_clock::time_point;
    std::function<Instant()> now;
    std::function<qint64()> secondsSinceEpoch;
    // Runs `action` on the watcher's thread after `delay`, unless the watcher is gone by then.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> action)> schedule;
};

// Saves images copied to the clipboard as PNG files in a "ClipBoard" folder. A timer on the main
// thread looks at the clipboard a few times a second; a change that offers an image, and no file
// reference, is read there and handed to one worker thread, which decodes, encodes, compares and
// writes in the order the images came. After each image that decodes, the watcher asks for the
// toast and, when that sound is on, the "Ping" cue a moment later.
class ClipboardWatcher final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds firstTickAfter{200};
    static constexpr std::chrono::milliseconds tickInterval{350};
    // The clipboard is left alone this long after a screenshot file was found.
    static constexpr std::chrono::milliseconds holdOffAfterScreenshot{750};
    // An image written is a duplicate of the next one for this long.
    static constexpr std::chrono::milliseconds forgetImageAfter{10000};
    static constexpr std::chrono::milliseconds cueAfterToast{180};

    // Whatever is on the clipboard now counts as seen. `source` may be null (no clipboard at all).
    ClipboardWatcher(Preferences& store, std::unique_ptr<ClipboardSource> source, OwnOutputs& ownOutputs,
                     ClipboardWatcherHooks hooks = {}, QObject* parent = nullptr);
    // Waits for the image being written, if any.
    ~ClipboardWatcher() override;

    // (Re)starts the ticks: the first after firstTickAfter, then every tickInterval. Says once when
    // this session's clipboard cannot be read from the background.
    void startPasteboardTimer();
    bool isTimerActive() const { return m_timer.isActive(); }
    // Why this session's clipboard cannot be read from the background, or empty when it can.
    QString unavailableReason() const;

    // One tick: paused, turned off, just after a screenshot file, or nothing new on the clipboard
    // means nothing happens; a clipboard change is looked at once, and never again.
    void checkPasteboard();
    // Hands `encodedImage` (any image format) to the worker, to be saved into `folder`.
    void saveClipboardImage(const QByteArray& encodedImage, const QString& folder);
    // Hands the forgetting of the last image written to the worker, after the saves before it.
    void forgetLastClipboardImage();

    // A screenshot file was found just now.
    void noteDesktopScreenshot();
    // When one was last found; none yet is the distant past.
    std::optional<ClipboardWatcherHooks::Instant> lastDesktopScreenshotAt() const
    {
        return m_lastDesktopScreenshotAt;
    }

    // Blocks until the worker has done everything handed to it so far.
    void waitForSaves();

signals:
    // After each clipboard image that decoded, whether it was written or not.
    void toastRequested();
    // cueAfterToast after toastRequested, when the clipboard sound is on.
    void cueRequested();
    // A clipboard image was written to `path`.
    void imageSaved(const QString& path);

private:
    void imageHandled(const ClipboardImageSaver::Result& result);

    Preferences& m_store;
    std::unique_ptr<ClipboardSource> m_source;
    ClipboardWatcherHooks m_hooks;
    QTimer m_timer;
    qint64 m_lastPasteboardChangeCount = 0;
    std::optional<ClipboardWatcherHooks::Instant> m_lastDesktopScreenshotAt; // none: the distant past
    bool m_warnedUnavailable = false;

    // Touched on the worker only, in the order the work was handed over.
    ClipboardImageSaver m_saver;
    SerialWorker m_worker;
};

} // namespace quillary
