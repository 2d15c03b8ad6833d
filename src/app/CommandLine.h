#pragma once

#include <QString>
#include <QStringList>

namespace quillary {

// What the command line asks for. Quillary takes no options beyond --help and --version.
struct CommandLineAction {
    enum class Kind { run, printAndExit };
    Kind kind = Kind::run;
    QString output; // text for standard output (help, version)
    QString error;  // text for standard error (bad usage)
    int exitCode = 0;
};

CommandLineAction parseCommandLine(const QStringList& arguments);

// Picks Qt's offscreen platform when no display server is reachable and none was requested, and
// returns the warning line to print then (empty when nothing changed).
QString fallBackToOffscreenIfHeadless();

} // namespace quillary
