#pragma once

#include "platform/FolderEventSource.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QThread;

namespace quillary {

// Portable fallback: a QFileSystemWatcher living on its own thread. The descriptor is the
// directory itself, opened read-only, which also gives `open` a real errno.
class QtFolderEventSource final : public FolderEventSource {
public:
    explicit QtFolderEventSource(QString path, int directoryDescriptor);
    ~QtFolderEventSource() override;

    int descriptor() const override { return m_descriptor.load(); }
    void resume(std::function<void(Event)> handler) override;
    void cancel() override;

private:
    const QString m_path;
    std::atomic<int> m_descriptor;
    std::atomic<bool> m_cancelled{false};
    std::function<void(Event)> m_handler;
    bool m_gone = false; // touched on m_thread only
    std::unique_ptr<QThread> m_thread;
    QFileSystemWatcher* m_watcher = nullptr; // lives on m_thread, deleted there when it finishes
};

} // namespace quillary
