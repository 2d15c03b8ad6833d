#include "app/CommandLine.h"

#include "QuillaryVersion.h"

#include <QFileInfo>

namespace quillary {

CommandLineAction parseCommandLine(const QStringList& arguments)
{
    const QString program =
        arguments.isEmpty() ? QStringLiteral("quillary") : QFileInfo(arguments.first()).fileName();
    CommandLineAction action;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--help" || argument == u"-h") {
            action.kind = CommandLineAction::Kind::printAndExit;
            action.output =
                QStringLiteral("Usage: %1 [OPTION]\n"
                               "%2: lives in the system tray, watches the folder where screenshots\n"
                               "are saved and files each new one into the folder you choose.\n"
                               "\n"
                               "  -h, --help     display this help and exit\n"
                               "  -V, --version  output version information and exit\n"
                               "\n"
                               "Everything else is set in the settings window, opened from the tray icon.\n"
                               "Settings are kept in $XDG_CONFIG_HOME/Quillary/Quillary.conf.\n")
                    .arg(program, QString::fromUtf8(kDescription));
            return action;
        }
        if (argument == u"--version" || argument == u"-V") {
            action.kind = CommandLineAction::Kind::printAndExit;
            action.output = QStringLiteral("quillary %1\n").arg(QString::fromLatin1(kVersion));
            return action;
        }
        action.kind = CommandLineAction::Kind::printAndExit;
        action.exitCode = 2;
        const QString problem = argument.startsWith(u'-') ? QStringLiteral("unrecognized option '%1'")
                                                          : QStringLiteral("unexpected argument '%1'");
        action.error = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                           .arg(program, problem.arg(argument));
        return action;
    }
    return action;
}

QString fallBackToOffscreenIfHeadless()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return {};
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return QStringLiteral("⚠️ Quillary: No display server (DISPLAY and WAYLAND_DISPLAY are unset); "
                          "running headless on the offscreen platform");
}

} // namespace quillary
