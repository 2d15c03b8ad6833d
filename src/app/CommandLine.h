#pragma once

#include <QString>
#include <QStringList>

namespace quillary {

// What a launch asks the running Quillary (or the one it starts) to do.
enum class RemoteCommand {
    show,        // no verb: the waiting card if screenshots wait, else the settings window
    settings,    // --settings
    pause,       // --pause
    resume,      // --resume
    showPending, // --show-pending
    quit,        // --quit
};

// The word for `command` on the wire between instances, and back; unknown words give nothing.
QString remoteCommandWord(RemoteCommand command);
bool remoteCommandFromWord(const QString& word, RemoteCommand* command);

// What the command line asks for. Options Qt or the session manager pass (-session, -platform,
// -style, ...) are left to Qt; anything else unknown is warned about and ignored.
struct CommandLineAction {
    enum class Kind { run, printAndExit };
    Kind kind = Kind::run;
    RemoteCommand command = RemoteCommand::show; // for `run`; the last verb given counts
    QString output;                              // text for standard output (help, version)
    QString error;                               // text for standard error (warnings)
    int exitCode = 0;
};

CommandLineAction parseCommandLine(const QStringList& arguments);

// Sets QT_QPA_PLATFORM to the platform chosen for this session (see chooseDisplayPlatform) and
// returns the line that says which and why.
QString chooseWindowPlatform();

} // namespace quillary
