#include "app/CommandLine.h"

#include "platform/DisplayPlatform.h"

#include "QuillaryVersion.h"

#include <QFileInfo>

#include <array>
#include <utility>

namespace quillary {
namespace {

constexpr std::array<std::pair<RemoteCommand, const char*>, 6> kWords{{
    {RemoteCommand::show, "show"},
    {RemoteCommand::settings, "settings"},
    {RemoteCommand::pause, "pause"},
    {RemoteCommand::resume, "resume"},
    {RemoteCommand::showPending, "show-pending"},
    {RemoteCommand::quit, "quit"},
}};

// Options QGuiApplication, QApplication, the xcb platform and the session manager take for
// themselves, with one or two dashes, the value either following or after "=".
bool isQtOptionWithValue(const QString& name)
{
    static const QStringList names =
        QStringLiteral("platform platformpluginpath platformtheme plugin qwindowgeometry qwindowtitle "
                       "qwindowicon session name display style stylesheet geometry title visual ncols cmap")
            .split(u' ');
    return names.contains(name);
}

bool isQtFlag(const QString& name)
{
    static const QStringList names =
        QStringLiteral("reverse widgetcount nograb dograb sync testability qmljsdebugger").split(u' ');
    return names.contains(name);
}

QString help(const QString& program)
{
    return QStringLiteral("Usage: %1 [OPTION]\n"
                          "%2: lives in the system tray, watches the folder where screenshots\n"
                          "are saved and files each new one into the folder you choose.\n"
                          "\n"
                          "Only one Quillary runs per user. Started again, it asks the running one to show\n"
                          "the waiting screenshot, or else its settings window. These options, handy for\n"
                          "keyboard shortcuts, go to the running Quillary; when none runs, all but --quit\n"
                          "start one and it does what they ask:\n"
                          "      --settings      open the settings window\n"
                          "      --show-pending  show the card of the screenshot waiting to be filed\n"
                          "      --pause         pause filing (new screenshots are left alone)\n"
                          "      --resume        resume filing\n"
                          "      --quit          quit the running Quillary (nothing happens if none runs)\n"
                          "  -h, --help          display this help and exit\n"
                          "  -V, --version       output version information and exit\n"
                          "\n"
                          "Everything else is set in the settings window, opened from the tray icon.\n"
                          "Settings are kept in $XDG_CONFIG_HOME/Quillary/Quillary.conf.\n")
        .arg(program, QString::fromUtf8(kDescription));
}

} // namespace

QString remoteCommandWord(RemoteCommand command)
{
    for (const auto& [candidate, word] : kWords) {
        if (candidate == command)
            return QString::fromLatin1(word);
    }
    return {};
}

bool remoteCommandFromWord(const QString& word, RemoteCommand* command)
{
    for (const auto& [candidate, text] : kWords) {
        if (word == QLatin1StringView(text)) {
            *command = candidate;
            return true;
        }
    }
    return false;
}

CommandLineAction parseCommandLine(const QStringList& arguments)
{
    const QString program =
        arguments.isEmpty() ? QStringLiteral("quillary") : QFileInfo(arguments.first()).fileName();
    CommandLineAction action;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--help" || argument == u"-h") {
            action.kind = CommandLineAction::Kind::printAndExit;
            action.output = help(program);
            action.error.clear();
            return action;
        }
        if (argument == u"--version" || argument == u"-V") {
            action.kind = CommandLineAction::Kind::printAndExit;
            action.output = QStringLiteral("quillary %1\n").arg(QString::fromLatin1(kVersion));
            action.error.clear();
            return action;
        }
        RemoteCommand verb = RemoteCommand::show;
        if (argument.startsWith(u"--") && remoteCommandFromWord(argument.mid(2), &verb) &&
            verb != RemoteCommand::show) {
            action.command = verb;
            continue;
        }
        if (argument.startsWith(u'-') && argument.size() > 1) {
            const QString option = argument.mid(argument.startsWith(u"--") ? 2 : 1);
            const qsizetype equals = option.indexOf(u'=');
            const QString name = option.left(equals);
            if (isQtOptionWithValue(name)) {
                if (equals < 0)
                    ++i; // its value
                continue;
            }
            if (isQtFlag(name))
                continue;
        }
        const QString problem = argument.startsWith(u'-')
                                    ? QStringLiteral("ignoring unrecognized option '%1'")
                                    : QStringLiteral("ignoring unexpected argument '%1'");
        action.error += QStringLiteral("%1: %2 (try '%1 --help')\n").arg(program, problem.arg(argument));
    }
    return action;
}

QString chooseWindowPlatform()
{
    const DisplayPlatformChoice choice = chooseDisplayPlatform(DisplayEnvironment::fromProcess());
    if (!choice.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", choice.platform.toUtf8());
    return choice.line;
}

} // namespace quillary
