#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace quillary {

// A kernel-backed notification that a directory's contents changed, delivered on a background
// thread. One implementation per operating system; `open` is defined by the one CMake compiles.
class FolderEventSource {
public:
    struct Opened {
        std::unique_ptr<FolderEventSource> source; // null on failure
        int error = 0;                             // errno of the failed open, 0 on success
    };

    // Opens a watch on `path` without starting delivery.
    static Opened open(const QString& path);

    virtual ~FolderEventSource() = default; // implementations cancel

    // The descriptor that carries the events, or -1 once cancelled.
    virtual int descriptor() const = 0;

    enum class Event {
        changed, // an entry was added, removed or renamed, or a file was closed after writing
        gone,    // the directory itself was deleted, moved elsewhere or unmounted
    };

    // Starts delivery: `handler` runs on a background thread with `changed` at least once after any
    // entry of the directory is added, removed or renamed, or a file in it is closed after writing;
    // events that arrive together may be merged into one call. When the directory itself goes away,
    // the watch ends with it: `handler` runs once with `gone` (instead of `changed` for what came
    // with it) and never again, even if a directory of the same name appears.
    virtual void resume(std::function<void(Event)> handler) = 0;

    // Stops delivery and closes the descriptor. When it returns, the handler is not running and
    // will not run again (unless cancel was called from inside the handler). Idempotent.
    virtual void cancel() = 0;

protected:
    FolderEventSource() = default;
    FolderEventSource(const FolderEventSource&) = delete;
    FolderEventSource& operator=(const FolderEventSource&) = delete;
};

} // namespace quillary
