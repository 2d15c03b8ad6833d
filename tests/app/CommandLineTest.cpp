#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace quillary;

namespace {

TEST(CommandLineTest, VerbsAndTheOptionsQtTakesRunAndUnknownArgumentsOnlyWarn)
{
    const struct {
        QStringList arguments;
        RemoteCommand command;
        QStringList warnedAbout;
    } cases[] = {
        {{}, RemoteCommand::show, {}},
        {{"--settings"}, RemoteCommand::settings, {}},
        {{"--show-pending"}, RemoteCommand::showPending, {}},
        {{"--pause"}, RemoteCommand::pause, {}},
        {{"--resume"}, RemoteCommand::resume, {}},
        {{"--quit"}, RemoteCommand::quit, {}},
        {{"--pause", "--resume"}, RemoteCommand::resume, {}},
        // What the session manager and Qt pass, with their values, is Qt's to handle.
        {{"-session", "1a2b3c", "-name", "quillary", "--settings"}, RemoteCommand::settings, {}},
        {{"-platform", "offscreen", "-style=fusion", "--display", ":1", "-reverse"}, RemoteCommand::show, {}},
        {{"--verbose", "-x", "--pause", "somefile.png"},
         RemoteCommand::pause,
         {"--verbose", "-x", "somefile.png"}},
        {{"--show", "-settings"}, RemoteCommand::show, {"--show", "-settings"}},
    };
    for (const auto& row : cases) {
        const auto action = parseCommandLine(QStringList{"/usr/bin/quillary"} + row.arguments);
        const std::string label = row.arguments.join(u' ').toStdString();
        EXPECT_EQ(action.kind, CommandLineAction::Kind::run) << label;
        EXPECT_EQ(action.command, row.command) << label;
        EXPECT_TRUE(action.output.isEmpty()) << label;
        EXPECT_EQ(action.error.count(u'\n'), row.warnedAbout.size()) << label << action.error.toStdString();
        for (const QString& argument : row.warnedAbout)
            EXPECT_TRUE(action.error.contains(
                            QStringLiteral("quillary: ignoring unrecognized option '%1'").arg(argument)) ||
                        action.error.contains(
                            QStringLiteral("quillary: ignoring unexpected argument '%1'").arg(argument)))
                << label << action.error.toStdString();
    }
}

TEST(CommandLineTest, HelpAndVersionPrintToStandardOutputAndSucceed)
{
    for (const char* flag : {"--help", "-h"}) {
        const auto action =
            parseCommandLine({QStringLiteral("quillary"), "--bogus", QString::fromLatin1(flag)});
        EXPECT_EQ(action.kind, CommandLineAction::Kind::printAndExit);
        EXPECT_EQ(action.exitCode, 0);
        EXPECT_TRUE(action.output.startsWith(u"Usage: quillary")) << action.output.toStdString();
        for (const char* option :
             {"--version", "--settings", "--show-pending", "--pause", "--resume", "--quit"})
            EXPECT_TRUE(action.output.contains(QLatin1StringView(option))) << option;
        EXPECT_TRUE(action.error.isEmpty());
    }
    for (const char* flag : {"--version", "-V"}) {
        const auto action = parseCommandLine({QStringLiteral("quillary"), QString::fromLatin1(flag)});
        EXPECT_EQ(action.exitCode, 0);
        EXPECT_TRUE(
            action.output.contains(QRegularExpression(QStringLiteral("^quillary \\d+\\.\\d+\\.\\d+\n$"))))
            << action.output.toStdString();
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
    const QString warning = fallBackToOffscreenIfHeadless();
    EXPECT_TRUE(warning.startsWith(u"⚠️ ")) << warning.toStdString();
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "offscreen");

    qputenv("QT_QPA_PLATFORM", "xcb"); // an explicit choice is left alone
    EXPECT_TRUE(fallBackToOffscreenIfHeadless().isEmpty());
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");

    qputenv("QT_QPA_PLATFORM", saved[0]);
    qputenv("DISPLAY", saved[1]);
    qputenv("WAYLAND_DISPLAY", saved[2]);
}

} // namespace
