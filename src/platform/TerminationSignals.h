#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quillary {

// The session's requests to end the process (on Linux: SIGTERM at logout or shutdown, SIGINT from a
// terminal, SIGHUP when the terminal goes away), delivered as a Qt signal on the thread that
// installed them, so the process quits through its event loop instead of dying mid-conversion.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Catches the requests until destroyed; at most one may exist at a time. A request the process
    // was started to ignore (nohup) stays ignored. Nothing when they cannot be caught. Defined by the
    // implementation CMake compiles.
    static std::unique_ptr<TerminationSignals> install();

    ~TerminationSignals() override = default;

signals:
    // `name` is the signal's name, e.g. "SIGTERM". Emitted for every request that arrives.
    void received(const QString& name);

protected:
    TerminationSignals() = default;
};

} // namespace quillary
