#pragma once

#include "core/WatchStatus.h"

#include <QString>
#include <QUrl>

namespace quillary {

// What the settings window asks of the running application: the watch's state and the actions that
// go beyond storing a preference. The window works without one (nothing launched yet): it then shows
// the watch as not started and only stores what it is given.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;

    virtual QUrl currentWatchURL() const = 0;
    virtual WatchStatus watchStatus() const = 0;
    virtual bool isUsingCustomWatchFolder() const = 0;
    virtual void setCustomWatchFolder(const QUrl& folder) = 0;
    // Watches the system's screenshot folder again (after the stored custom folder was removed).
    virtual void startWatching() = 0;
    // Registers or unregisters the login item; a failure prints one line and changes nothing else.
    virtual void setLaunchAtLogin(bool enabled) = 0;
    // Why copied images cannot be saved in this session, or empty when they can.
    virtual QString clipboardUnavailableReason() const { return {}; }
};

} // namespace quillary
