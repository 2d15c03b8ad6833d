#pragma once

#include "app/CommandLine.h"

#include <QApplication>

#include <memory>

namespace quillary {

class AppDelegate;
class SingleInstance;
class TerminationSignals;

// The application: the Qt application object and the one delegate that owns the run-time state.
// There is no main window; the app runs until Quit, --quit, or a request from the session to end.
class QuillaryApp final {
public:
    QuillaryApp(int& argc, char** argv);
    ~QuillaryApp();

    // When Quillary already runs for this user, hands `command` to it and returns. Otherwise runs
    // the launch sequence and `command` once the event loop is up, then the loop itself, and at the
    // end lets the conversions in flight finish.
    int exec(RemoteCommand command);

private:
    int handOver(RemoteCommand command);
    // Carries out a command from the command line or a later launch; returns the line for the
    // later launch to print.
    QString apply(RemoteCommand command);
    void quitOnRequest(const QString& signalName);

    QApplication m_application;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    bool m_quitting = false;
};

} // namespace quillary
