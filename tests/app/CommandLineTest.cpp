#include "app/CommandLine.h"
#include "platform/DisplayPlatform.h"
#include "platform/TrayHostWatcher.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace quillary;

namespace {

// The last verb counts; what Qt or the session manager pass, with their values, is Qt's to handle;
// anything else is warned about and ignored.
TEST(CommandLineTest, EachArgumentIsAVerbAQtOptionOrWarnedAbout)
{
    const struct {
        QStringList arguments;
        RemoteCommand command;
        QStringList warnings;
    } cases[] = {
        {{}, RemoteCommand::show, {}},
        {{"--settings"}, RemoteCommand::settings, {}},
        {{"--show-pending"}, RemoteCommand::showPending, {}},
        {{"--pause"}, RemoteCommand::pause, {}},
        {{"--quit"}, RemoteCommand::quit, {}},
        {{"--pause", "--resume"}, RemoteCommand::resume, {}},
        {{"-session", "1a2b3c", "-name", "quillary", "--settings"}, RemoteCommand::settings, {}},
        {{"-platform", "offscreen", "-style=fusion", "--display", ":1", "-reverse"}, RemoteCommand::show, {}},
        {{"--verbose", "-x", "--pause", "somefile.png"},
         RemoteCommand::pause,
         {"unrecognized option '--verbose'", "unrecognized option '-x'",
          "unexpected argument 'somefile.png'"}},
        {{"--show", "-settings"},
         RemoteCommand::show,
         {"unrecognized option '--show'", "unrecognized option '-settings'"}}};
    for (const auto& [arguments, command, warnings] : cases) {
        const auto action = parseCommandLine(QStringList{"/usr/bin/quillary"} + arguments);
        const std::string label = arguments.join(u' ').toStdString();
        EXPECT_EQ(action.kind, CommandLineAction::Kind::run) << label;
        EXPECT_EQ(action.command, command) << label;
        EXPECT_TRUE(action.output.isEmpty()) << label;
        QString expected;
        for (const QString& warning : warnings)
            expected += "quillary: ignoring " + warning + " (try 'quillary --help')\n";
        EXPECT_EQ(action.error, expected) << label;
    }
}

TEST(CommandLineTest, HelpOrVersionIsPrintedInsteadOfRunning)
{
    for (const char* flag : {"--help", "-h", "--version", "-V"}) {
        const auto action = parseCommandLine({"quillary", "--bogus", QString::fromLatin1(flag)});
        EXPECT_EQ(action.kind, CommandLineAction::Kind::printAndExit) << flag;
        EXPECT_EQ(action.exitCode, 0) << flag;
        EXPECT_TRUE(action.error.isEmpty()) << flag;
        const QRegularExpression expected(std::strchr(flag, 'h')
                                              ? "^Usage: quillary .*--settings.*--show-pending.*"
                                                "--pause.*--resume.*--quit.*--version"
                                              : "^quillary \\d+\\.\\d+\\.\\d+\n$",
                                          QRegularExpression::DotMatchesEverythingOption);
        EXPECT_TRUE(action.output.contains(expected)) << action.output.toStdString();
    }
}

TEST(CommandLineTest, WindowsGoWhereTheyCanPlaceThemselves)
{
    const struct {
        DisplayEnvironment env;
        QString platform;
        QString says;
    } cases[] = {
        {{"wayland", ":0", "wayland-1"}, "", "as QT_QPA_PLATFORM asks"},
        {{"", ":0", "wayland-1"}, "xcb", "through XWayland"},
        {{"", "", "wayland-1"}, "wayland", "without XWayland"},
        {{"", ":0", ""}, "xcb", "X11 session"},
        {{"", "", ""}, "offscreen", "No display server"},
    };
    for (const auto& c : cases) {
        const DisplayPlatformChoice choice = chooseDisplayPlatform(c.env);
        EXPECT_EQ(choice.platform, c.platform) << c.says.toStdString();
        EXPECT_TRUE(choice.line.contains(c.says)) << choice.line.toStdString();
        EXPECT_TRUE(
            choice.line.startsWith(c.platform == "offscreen" ? u"⚠️ Quillary: " : u"📍 Quillary: "));
    }
}

TEST(CommandLineTest, GnomeWithoutATrayIsToldWhichExtensionBringsOne)
{
    EXPECT_TRUE(trayAdviceFor("ubuntu:GNOME").contains("AppIndicator"));
    EXPECT_TRUE(trayAdviceFor("GNOME-Flashback:GNOME").contains("AppIndicator"));
    EXPECT_TRUE(trayAdviceFor("KDE").isEmpty());
    EXPECT_TRUE(trayAdviceFor("GNOMEISH").isEmpty());
    EXPECT_TRUE(trayAdviceFor("").isEmpty());
}

} // namespace
