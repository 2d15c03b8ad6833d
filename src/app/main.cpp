#include "app/CommandLine.h"
#include "app/QuillaryApp.h"
#include "core/Diagnostics.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const quillary::CommandLineAction action = quillary::parseCommandLine(arguments);
    std::fputs(action.error.toLocal8Bit().constData(), stderr);
    if (action.kind == quillary::CommandLineAction::Kind::printAndExit) {
        std::fputs(action.output.toLocal8Bit().constData(), stdout);
        return action.exitCode;
    }

    quillary::printLine(quillary::chooseWindowPlatform());

    quillary::QuillaryApp app(argc, argv);
    return app.exec(action.command);
}
