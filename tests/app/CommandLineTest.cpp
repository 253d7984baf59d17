#include "app/CommandLine.h"
#include "tests/support/ChildPrograms.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct ArgumentsCase {
    const char* name;
    std::vector<std::string> arguments;
    bool runsWindow;
    std::string output;
    int exitCode = 0;
};

const std::string Help =
    "Usage: wendrake-terminal [--help | --version]\n"
    "Serial terminal for the Wendrake USB debug adapter.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Without options the terminal window opens. Qt's own options (-platform, -style,\n"
    "...) are passed to Qt; any other option is refused with exit status 2.\n"
    "The manual opens from Help > Help... in the window; see also wendrake-terminal(1).\n";

std::string refused(const std::string& option) {
    return "wendrake-terminal: unknown option '" + option +
           "'\n"
           "Usage: wendrake-terminal [--help | --version]\n"
           "Try 'wendrake-terminal --help' for more information.\n";
}

class CommandLineArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(CommandLineArguments, DecideBetweenWindowAndText) {
    const ArgumentsCase& c = GetParam();
    const CommandLine::Outcome outcome = CommandLine::Parse("wendrake-terminal", c.arguments);
    EXPECT_EQ(outcome.RunWindow, c.runsWindow);
    EXPECT_EQ(outcome.Output, c.output);
    EXPECT_EQ(outcome.ExitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineArguments,
    ::testing::Values(
        ArgumentsCase{"None", {}, true, ""},
        ArgumentsCase{"Version", {"--version"}, false, "wendrake-terminal 1.5.1\n"},
        ArgumentsCase{"Help", {"--help"}, false, Help},
        ArgumentsCase{
            "FirstOfTheTwoWins", {"--version", "--help"}, false, "wendrake-terminal 1.5.1\n"},
        // Qt's own arguments pass through to it, as they always did.
        ArgumentsCase{"QtArgumentsAlone", {"-platform", "offscreen"}, true, ""},
        ArgumentsCase{"QtArgumentsThenVersion",
                      {"-platform", "xcb", "--version"},
                      false,
                      "wendrake-terminal 1.5.1\n"},
        ArgumentsCase{"QtArgumentsEveryForm",
                      {"--platform", "offscreen", "-style=fusion", "-stylesheet", "a.qss",
                       "--reverse", "-qmljsdebugger=port:4000", "-session", "1-2", "-name", "w"},
                      true,
                      ""},
        // A Qt option's value is never taken for an option of ours.
        ArgumentsCase{"QtValueLooksLikeAnOption", {"-title", "--help"}, true, ""},
        ArgumentsCase{"SingleDashIsNotOurs",
                      {"-help", "-version", "-h", "--Help"},
                      false,
                      refused("-help"),
                      2},
        ArgumentsCase{"ShortHelp", {"-h"}, false, refused("-h"), 2},
        ArgumentsCase{"ShortVersion", {"-v"}, false, refused("-v"), 2},
        ArgumentsCase{"Typo", {"--verison"}, false, refused("--verison"), 2},
        ArgumentsCase{"UnknownBeforeHelp", {"-x", "--help"}, false, refused("-x"), 2},
        ArgumentsCase{"UnknownAfterQtOption",
                      {"-style", "fusion", "--platformx"},
                      false,
                      refused("--platformx"),
                      2},
        // Not options: a word and a lone dash are left alone, as before.
        ArgumentsCase{"OperandsAreNoOptions", {"notes.txt", "-"}, true, ""},
        ArgumentsCase{"AfterDoubleDashNothingCounts", {"--", "--help", "-h"}, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineDemo, NamesItselfAndItsEmulatedAdapter) {
    const char* argv[] = {"/x/wendrake-terminal-demo", "--version"};
    EXPECT_EQ(CommandLine::Parse("wendrake-terminal-demo", 2, argv).Output,
              "wendrake-terminal-demo 1.5.1\n");
    const std::string help = CommandLine::HelpText("wendrake-terminal-demo");
    EXPECT_EQ(help.substr(0, help.find('\n', help.find('\n') + 1) + 1),
              "Usage: wendrake-terminal-demo [--help | --version]\n"
              "Wendrake Terminal on an emulated adapter whose UART is looped back.\n");
    // The program's own name is the first argument and is never taken as an option.
    const char* named[] = {"--help"};
    EXPECT_TRUE(CommandLine::Parse("wendrake-terminal", 1, named).RunWindow);
}

struct ProgramCase {
    const char* name;
    QString program;
    QStringList arguments;
    int exitCode;
    bool onStandardOutput; // else on standard error, with nothing on standard output
    std::string firstLine;
};

// Its name, in test listings and failures.
void PrintTo(const ProgramCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramCommandLine : public ::testing::TestWithParam<ProgramCase> {};

// The built programs, without a display: the texts go to the right stream with the status.
TEST_P(ProgramCommandLine, PrintsOnTheRightStreamAndExits) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    const ProgramCase& c = GetParam();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(WT_PROGRAM_DIR "/") + c.program, c.arguments);
    ASSERT_TRUE(process.waitForFinished(30000)) << c.program.toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), c.exitCode);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    const QByteArray shown = c.onStandardOutput ? out : err;
    EXPECT_EQ(shown.left(shown.indexOf('\n') + 1).toStdString(), c.firstLine);
    if (c.onStandardOutput)
        EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    else
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ProgramCommandLine,
    ::testing::Values(
        ProgramCase{
            "Version", "wendrake-terminal", {"--version"}, 0, true, "wendrake-terminal 1.5.1\n"},
        ProgramCase{"ShortHelp",
                    "wendrake-terminal",
                    {"-h"},
                    2,
                    false,
                    "wendrake-terminal: unknown option '-h'\n"},
        ProgramCase{"DemoTypo",
                    "wendrake-terminal-demo",
                    {"-platform", "xcb", "--hepl"},
                    2,
                    false,
                    "wendrake-terminal-demo: unknown option '--hepl'\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
