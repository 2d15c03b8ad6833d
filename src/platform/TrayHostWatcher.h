#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quillary {

// Whether the session has a place for tray icons, and notice when one appears later.
//
// Qt settles which tray protocol to use the first time a tray icon is made and never revisits it,
// and a panel often starts after an autostarted app. So the icon is only made once a host is there.
// What brings a tray to the desktop named by `currentDesktop` (XDG_CURRENT_DESKTOP), for a message
// about a missing one; empty when there is nothing particular to say.
QString trayAdviceFor(const QString& currentDesktop);

class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    // The platform's watcher; defined by the implementation CMake compiles.
    static std::unique_ptr<TrayHostWatcher> create();

    ~TrayHostWatcher() override = default;

    virtual bool isHostAvailable() const = 0;
    // Starts looking for a host; emits `hostAppeared` once, then stops.
    virtual void watchForHost() = 0;

signals:
    void hostAppeared();

protected:
    TrayHostWatcher() = default;
};

} // namespace quillary
