#include "app/CommandLine.h"

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

TEST(CommandLineTest, FallsBackToOffscreenOnlyWithoutAnyDisplay)
{
    const QByteArray saved[] = {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
    qunsetenv("QT_QPA_PLATFORM");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", ":5");
    EXPECT_TRUE(fallBackToOffscreenIfHeadless().isEmpty());
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));

    qunsetenv("DISPLAY");
    EXPECT_TRUE(fallBackToOffscreenIfHeadless().startsWith(u"⚠️ "));
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "offscreen");

    qputenv("QT_QPA_PLATFORM", "xcb"); // an explicit choice is left alone
    EXPECT_TRUE(fallBackToOffscreenIfHeadless().isEmpty());
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");
    for (int i = 0; const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        qputenv(name, saved[i++]);
}

} // namespace
