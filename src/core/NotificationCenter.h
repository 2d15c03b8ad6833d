#pragma once

#include <QObject>

namespace quillary {

// Process-wide notifications without payload. Observers connect to the signals; posts always reach
// them on the main thread.
class NotificationCenter final : public QObject {
    Q_OBJECT

public:
    static constexpr char watchStateChangedName[] = "QuillaryWatchStateChanged";

    static NotificationCenter& defaultCenter();

    // Posts "QuillaryWatchStateChanged": emitted at once on the main thread, queued to it otherwise.
    void postWatchStateChanged();

signals:
    void quillaryWatchStateChanged();

private:
    NotificationCenter() = default;
};

} // namespace quillary
