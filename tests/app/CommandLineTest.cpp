#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace quillary;

namespace {

TEST(CommandLineTest, RunsWithoutArguments)
{
    const auto action = parseCommandLine({QStringLiteral("/usr/bin/quillary")});
    EXPECT_EQ(action.kind, CommandLineAction::Kind::run);
}

TEST(CommandLineTest, HelpAndVersionPrintToStandardOutputAndSucceed)
{
    for (const char* flag : {"--help", "-h"}) {
        const auto action = parseCommandLine({QStringLiteral("quillary"), QString::fromLatin1(flag)});
        EXPECT_EQ(action.kind, CommandLineAction::Kind::printAndExit);
        EXPECT_EQ(action.exitCode, 0);
        EXPECT_TRUE(action.output.startsWith(u"Usage: quillary")) << action.output.toStdString();
        EXPECT_TRUE(action.output.contains(u"--version"));
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

TEST(CommandLineTest, AnythingElseIsAUsageErrorOnStandardError)
{
    for (const char* argument : {"--verbose", "-x", "somefile.png"}) {
        const auto action = parseCommandLine({QStringLiteral("quillary"), QString::fromLatin1(argument)});
        EXPECT_EQ(action.kind, CommandLineAction::Kind::printAndExit);
        EXPECT_EQ(action.exitCode, 2);
        EXPECT_TRUE(action.output.isEmpty());
        EXPECT_TRUE(action.error.contains(QString::fromLatin1(argument)));
        EXPECT_TRUE(action.error.contains(u"Try 'quillary --help'"));
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
