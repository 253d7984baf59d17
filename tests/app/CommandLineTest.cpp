#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct ArgumentsCase {
    const char* name;
    std::vector<std::string> arguments;
    bool runsWindow;
    std::string output;
};

const std::string Help = "Usage: wendrake-terminal [--help | --version]\n"
                         "Serial terminal for the Wendrake USB debug adapter.\n"
                         "\n"
                         "  --help     show this text and exit\n"
                         "  --version  show the version and exit\n"
                         "\n"
                         "Without options the terminal window opens. The manual opens from Help > "
                         "Help...\n"
                         "in the window; see also wendrake-terminal(1).\n";

class CommandLineArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(CommandLineArguments, DecideBetweenWindowAndText) {
    const ArgumentsCase& c = GetParam();
    const CommandLine::Outcome outcome = CommandLine::Parse("wendrake-terminal", c.arguments);
    EXPECT_EQ(outcome.RunWindow, c.runsWindow);
    EXPECT_EQ(outcome.Output, c.output);
    EXPECT_EQ(outcome.ExitCode, 0);
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
        ArgumentsCase{"SingleDashIsNotOurs", {"-help", "-version", "-h", "--Help"}, true, ""},
        ArgumentsCase{"AfterDoubleDashNothingCounts", {"--", "--help"}, true, ""}),
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

} // namespace
