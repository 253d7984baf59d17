#include "cli/CliParser.h"
#include "cli/ExitStatus.h"

#include <gtest/gtest.h>

#include <string>

// The command line: every mistake is one line and status 2, short and long forms mean the same.

namespace {

struct UsageCase {
    const char* Name;
    QStringList Arguments;
    const char* Error;
};

class CliUsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

const UsageCase UsageCases[] = {
    {"NoCommand", {}, "wendrake: no command given (try 'wendrake --help')"},
    {"UnknownCommand", {"frob"}, "wendrake: unknown command 'frob' (try 'wendrake --help')"},
    {"ControlCharactersStayOnOneLine",
     {"fr\nob\x7f"},
     "wendrake: unknown command 'fr\\x0aob\\x7f' (try 'wendrake --help')"},
    {"UnknownLongOption",
     {"config", "--bogus"},
     "wendrake: unknown option '--bogus' for config (try 'wendrake config --help')"},
    {"OptionOfAnotherCommand",
     {"list", "--baud", "9600"},
     "wendrake: unknown option '--baud' for list (try 'wendrake list --help')"},
    {"KeepOnConfig",
     {"config", "--keep"},
     "wendrake: unknown option '--keep' for config (try 'wendrake config --help')"},
    {"BundledFlags", {"list", "-jx"}, "wendrake: unknown option '-jx' (try 'wendrake --help')"},
    {"MissingValue", {"config", "--baud"}, "wendrake: option --baud needs a value"},
    {"ValueOnFlag", {"list", "--json=yes"}, "wendrake: option --json takes no value"},
    {"BaudZero",
     {"config", "-b", "0"},
     "wendrake: --baud: '0' is not a whole number from 1 to 4294967295"},
    {"BaudTooLarge",
     {"config", "--baud=4294967296"},
     "wendrake: --baud: '4294967296' is not a whole number from 1 to 4294967295"},
    {"BaudWithSign",
     {"config", "--baud", "+9600"},
     "wendrake: --baud: '+9600' is not a whole number from 1 to 4294967295"},
    {"Parity",
     {"config", "--parity", "EVEN"},
     "wendrake: --parity: 'EVEN' is not one of none, even, odd, mark, space"},
    {"DataBits", {"config", "-d", "9"}, "wendrake: --data: '9' is not one of 5, 6, 7, 8"},
    {"StopBits", {"config", "--stop", "3"}, "wendrake: --stop: '3' is not one of 1, 1.5, 2"},
    {"Flow", {"config", "-f", "xonxoff"}, "wendrake: --flow: 'xonxoff' is not one of none, rtscts"},
    {"PinWithoutLevel",
     {"pins", "--set", "GPIO0"},
     "wendrake: --set: 'GPIO0' is not NAME=0 or NAME=1"},
    {"PinLevelTwo",
     {"pins", "--set", "GPIO0=2"},
     "wendrake: --set: 'GPIO0=2' is not NAME=0 or NAME=1"},
    {"UnknownPin",
     {"pins", "--set", "GPIO7=1"},
     "wendrake: --set: 'GPIO7' is not a pin (GPIO0, GPIO1, Q3 Reset, Suspend, VPPCTL)"},
    {"Purge", {"fifo", "--purge", "all"}, "wendrake: --purge: 'all' is not one of rx, tx, both"},
    {"TimeoutZero",
     {"recv", "-t", "0"},
     "wendrake: --timeout: '0' is not a number of seconds greater than 0"},
    {"TimeoutWord",
     {"recv", "--timeout", "soon"},
     "wendrake: --timeout: 'soon' is not a number of seconds greater than 0"},
    {"CountNegative",
     {"recv", "--count", "-5"},
     "wendrake: --count: '-5' is not a whole number greater than 0"},
    {"TwoFiles", {"send", "a", "b"}, "wendrake: unexpected argument 'b' for send"},
    {"OperandOnList", {"list", "extra"}, "wendrake: unexpected argument 'extra' for list"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CliUsageErrorTest, ::testing::ValuesIn(UsageCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace

TEST_P(CliUsageErrorTest, SaysWhatInOneLineAndEndsWithStatusTwo) {
    const CliParser::Outcome outcome = CliParser::Parse(GetParam().Arguments);
    EXPECT_FALSE(outcome.Run);
    EXPECT_EQ(outcome.ExitCode, ExitStatus::Usage);
    EXPECT_EQ(outcome.Error, QString::fromUtf8(GetParam().Error));
    EXPECT_TRUE(outcome.Output.isEmpty());
}

TEST(CliParserTest, ShortAndLongFormsGiveTheSameRequest) {
    const QStringList forms[] = {
        {"recv", "-s", "SER-A",  "-b", "9600", "-p", "odd", "-d", "7",       "--stop",
         "2",    "-f", "rtscts", "-t", "1.5",  "-n", "42",  "-o", "out.bin", "--keep"},
        {"--serial=SER-A", "recv", "--baud=9600", "--parity", "odd", "--data=7", "--stop=2",
         "--flow", "rtscts", "--timeout=1.5", "--count", "42", "--output", "out.bin", "--keep"},
        {"recv", "-sSER-A", "-b9600", "-podd", "-d7", "--stop", "2", "-frtscts", "-t1.5", "-n42",
         "-oout.bin", "--keep"},
    };
    for (const QStringList& arguments : forms) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const CliParser::Outcome outcome = CliParser::Parse(arguments);
        ASSERT_TRUE(outcome.Run) << outcome.Error.toStdString();
        const CliRequest& r = outcome.Request;
        EXPECT_EQ(r.Command, "recv");
        EXPECT_EQ(r.Serial, "SER-A");
        EXPECT_EQ(r.Baud, 9600u);
        EXPECT_EQ(r.Parity, 2);
        EXPECT_EQ(r.DataBits, 7);
        EXPECT_EQ(r.Stop, CliRequest::StopBits::Two);
        EXPECT_EQ(r.Flow, 1);
        EXPECT_EQ(r.TimeoutSeconds, 1.5);
        EXPECT_EQ(r.Count, 42u);
        EXPECT_EQ(r.OutputFile, "out.bin");
        EXPECT_TRUE(r.Keep);
    }
}

TEST(CliParserTest, SendTakesOneFileAndADashForStandardInputEvenAfterTheOptionsEnd) {
    EXPECT_EQ(CliParser::Parse({"send", "-"}).Request.InputFile, "-");
    EXPECT_EQ(CliParser::Parse({"send", "--", "-odd name"}).Request.InputFile, "-odd name");
    const CliParser::Outcome pins =
        CliParser::Parse({"pins", "--set", "q3-reset=0", "--set", "RTS=1", "--set", "vppctl=1"});
    ASSERT_TRUE(pins.Run);
    EXPECT_EQ(pins.Request.PinSets, (std::vector<std::pair<std::uint8_t, bool>>{
                                        {0x04, false}, {0x01, true}, {0x10, true}}));
}

TEST(CliParserTest, HelpOfEachCommandAndTheVersionGoToStandardOutputWithStatusZero) {
    QStringList helps;
    for (const QString& command : CliParser::Commands()) {
        const CliParser::Outcome outcome = CliParser::Parse({command, "--help"});
        EXPECT_FALSE(outcome.Run);
        EXPECT_EQ(outcome.ExitCode, 0);
        EXPECT_TRUE(outcome.Output.startsWith("Usage: wendrake " + command + " "))
            << outcome.Output.toStdString();
        helps << outcome.Output;
    }
    EXPECT_TRUE(CliParser::Parse({"-h"}).Output.startsWith("Usage: wendrake [--demo] COMMAND"));
    EXPECT_EQ(CliParser::Parse({"--version"}).Output, "wendrake " WT_VERSION "\n");
    EXPECT_EQ(CliParser::Parse({"config", "-V"}).Output, CliParser::VersionText());
    helps.removeDuplicates();
    EXPECT_EQ(helps.size(), CliParser::Commands().size());
}
