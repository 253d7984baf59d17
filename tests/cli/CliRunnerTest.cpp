#include "cli/ExitStatus.h"
#include "tests/support/AdapterSettings.h"
#include "tests/support/CliFixture.h"
#include "tests/support/TestBytes.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Each command in-process on emulated adapters: what goes over the wire, what is printed, and
// the status and the one line of every failure.

namespace {

const std::vector<std::string> Handshake = {"set 40 02", "get 42 00", "set 41 00", "get 42 01"};
const std::vector<std::string> Goodbye = {"set 40 02", "get 42 00"};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The feature reports alone: the stream reports and the pin checks of recv come in between.
std::vector<std::string> commands(const std::vector<std::string>& wire) {
    std::vector<std::string> lines;
    std::copy_if(wire.begin(), wire.end(), std::back_inserter(lines), [](const std::string& l) {
        return l.rfind("in ", 0) != 0 && l.rfind("out ", 0) != 0 && l.rfind("get 4a", 0) != 0;
    });
    return lines;
}

// The bytes reach the adapter's UART once recv reads: input that came before would be taken by
// the look for adapters, which opens and closes each one.
std::thread feedWhenReading(EmulatedHidPlatform& platform, AdapterFirmware& adapter,
                            QByteArray data) {
    return std::thread([&platform, &adapter, data] {
        ASSERT_TRUE(platform.WaitForPendingReads(1, std::chrono::seconds(20)));
        adapter.InjectUartInput(std::string_view(data.constData(), std::size_t(data.size())));
    });
}

} // namespace

class CliRunnerTest : public CliFixture {};

TEST_F(CliRunnerTest, ConfigShowsTheAdapterSettingsInWordsAndUnknownCodesAsCodes) {
    struct Case {
        AdapterFirmware::UartSettings Uart;
        const char* Text;
    };
    const Case cases[] = {
        {uart(9600, 2, 1, 7, 1), "baud 9600\nparity odd\ndata 7\nstop 2\nflow rtscts\n"},
        {uart(300, 4, 0, 5, 1), "baud 300\nparity space\ndata 5\nstop 1.5\nflow none\n"},
        {uart(4294967295u, 3, 0, 8, 0),
         "baud 4294967295\nparity mark\ndata 8\nstop 1\nflow none\n"},
        {uart(115200, 9, 2, 8, 3),
         "baud 115200\nparity code 9\ndata 8\nstop code 3\nflow code 2\n"},
    };
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    for (const Case& c : cases) {
        adapter.SetUart(c.Uart);
        platform.ClearWire();
        const CliResult result = run({"config"});
        EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
        EXPECT_EQ(result.Out, c.Text);
        // Only a look: the handshake, one read, the goodbye.
        EXPECT_EQ(wire().size(), Handshake.size() + 1 + Goodbye.size());
    }
    adapter.SetUart(uart(9600, 2, 1, 7, 1));
    EXPECT_EQ(run({"config", "--json"}).Out,
              "{\"baud\":9600,\"data\":7,\"flow\":\"rtscts\",\"parity\":\"odd\",\"serial\":"
              "\"SER-A\",\"stop\":\"2\"}\n");
}

TEST_F(CliRunnerTest, ConfigSetsTheRecordByteForByteAndTheAdapterKeepsIt) {
    struct Case {
        QStringList Arguments;
        const char* Set;
    };
    const Case cases[] = {
        {{"--baud", "9600", "--parity", "even", "--data", "7", "--stop", "2", "--flow", "rtscts"},
         "set 46 80 25 00 00 01 01 07 01"},
        {{"-b", "4294967295"}, "set 46 ff ff ff ff 00 00 08 00"},
        {{"--data", "5", "--stop", "1.5"}, "set 46 00 c2 01 00 00 00 05 01"},
        {{"--parity", "space", "--stop", "1"}, "set 46 00 c2 01 00 04 00 08 00"},
    };
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Set);
        adapter.SetUart(uart(115200, 0, 0, 8, 0));
        platform.ClearWire();
        const CliResult result = run(QStringList{"config"} + c.Arguments);
        EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
        const std::string readBack = "get" + std::string(c.Set).substr(3);
        EXPECT_EQ(
            wire(),
            joined({Handshake, {"get 46 00 c2 01 00 00 00 08 00", c.Set, readBack}, Goodbye}));
    }
}

TEST_F(CliRunnerTest, StopBitsThatDoNotFitTheDataBitsAreRefusedBeforeAnythingIsSet) {
    struct Case {
        QStringList Arguments;
        const char* Error;
    };
    const Case cases[] = {
        {{"config", "--stop", "1.5"}, "wendrake: 1.5 stop bits need 5 data bits\n"},
        {{"config", "--data", "5", "--stop", "2"},
         "wendrake: 2 stop bits cannot go with 5 data bits (the adapter sends 1.5 then)\n"},
        {{"send", "--stop", "1.5", "/dev/null"}, "wendrake: 1.5 stop bits need 5 data bits\n"},
    };
    platform.AddAdapter("SER-A");
    for (const Case& c : cases) {
        platform.ClearWire();
        const CliResult result = run(c.Arguments);
        EXPECT_EQ(result.Status, ExitStatus::Usage);
        EXPECT_EQ(result.Err, c.Error);
        const auto sent = wire();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "set 46 00 c2 01 00 00 00 08 01"), 0);
        // The adapter is left as the window leaves it: UART off and the goodbye handshake.
        EXPECT_EQ(std::vector<std::string>(sent.end() - 2, sent.end()), Goodbye);
    }
}

TEST_F(CliRunnerTest, PinsShowsLevelsAndModesAndSetsOutputsInOneLatchWrite) {
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    PinConfig pins;
    pins.Gpio0Mode = 2;
    adapter.SetPins(pins);
    adapter.SetLatch(0x07);

    const CliResult result =
        run({"pins", "--set", "GPIO0=0", "--set", "q3reset=0", "--set", "Suspend=1"});
    EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
    EXPECT_EQ(commands(wire()),
              joined({Handshake,
                      {"get 49 02 00 00 00", "get 46 00 c2 01 00 00 00 08 00", "set 4b 08 0d"},
                      Goodbye}));
    EXPECT_EQ(result.Out, "GPIO0     Low   GPIO Output - Push-Pull\n"
                          "GPIO1     High  GPIO Input Pin\n"
                          "Q3 Reset  Low\n"
                          "Suspend   High\n"
                          "VPPCTL    Low\n");

    // With flow control the window calls them RTS and CTS, and they are not for setting.
    adapter.SetUart(uart(115200, 0, 1, 8, 0));
    adapter.SetPins(PinConfig{3, 3, 0, 0});
    platform.ClearWire();
    const CliResult refused = run({"pins", "--set", "Q3Reset=1", "--set", "rts=1"});
    EXPECT_EQ(refused.Status, ExitStatus::Usage);
    EXPECT_EQ(refused.Err, "wendrake: adapter SER-A: RTS is not an output (RTS - Push-Pull); "
                           "nothing was set\n");
    const auto sent = wire();
    EXPECT_TRUE(std::none_of(sent.begin(), sent.end(),
                             [](const std::string& l) { return l.rfind("set 4b", 0) == 0; }));
    EXPECT_EQ(QString::fromUtf8(run({"pins", "--json"}).Out),
              "{\"pins\":[{\"level\":0,\"mode\":\"RTS - Push-Pull\",\"name\":\"RTS\",\"writable\":"
              "false},{\"level\":1,\"mode\":\"CTS Input Pin\",\"name\":\"CTS\",\"writable\":false},"
              "{\"level\":0,\"name\":\"Q3 Reset\",\"writable\":true},{\"level\":1,\"name\":"
              "\"Suspend\",\"writable\":true},{\"level\":0,\"name\":\"VPPCTL\",\"writable\":true}],"
              "\"serial\":\"SER-A\"}\n");
}

TEST_F(CliRunnerTest, FifoShowsTheCountsAndPurgesTheFifoNamed) {
    struct Case {
        QStringList Arguments;
        std::vector<std::uint8_t> PurgeCodes;
        const char* Out;
    };
    const Case cases[] = {
        {{"fifo"}, {}, "tx 258\nrx 16\n"},
        {{"fifo", "--purge", "tx"}, {0}, "tx 0\nrx 16\n"},
        {{"fifo", "--purge", "rx"}, {1}, "tx 258\nrx 0\n"},
        {{"fifo", "--purge", "both", "--json"}, {2}, "{\"rx\":0,\"serial\":\"SER-A\",\"tx\":0}\n"},
    };
    for (const Case& c : cases) {
        AdapterFirmware& adapter = platform.AddAdapter("SER-A");
        adapter.SetFifoCounts(258, 16);
        const CliResult result = run(c.Arguments);
        EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
        EXPECT_EQ(result.Out, c.Out);
        EXPECT_EQ(adapter.PurgeCodes(), c.PurgeCodes);
        platform.Unplug(adapter);
    }
}

TEST_F(CliRunnerTest, SendWritesEveryByteExactlyAndGivesTheAdapterItsSettingsBack) {
    struct Case {
        const char* Name;
        AdapterFirmware::UartSettings Own;
        QStringList Options;
        std::vector<std::string> Commands; // after the handshake
    };
    const Case cases[] = {
        {"own settings",
         uart(115200, 0, 0, 8, 0),
         {},
         {"get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 46 00 c2 01 00 00 00 08 00",
          "set 45 00", "set 46 00 c2 01 00 00 00 08 00"}},
        {"flow control off first, then the adapter's own",
         uart(9600, 2, 1, 7, 1),
         {},
         {"get 46 80 25 00 00 02 01 07 01", "set 46 80 25 00 00 02 00 07 01", "set 45 01",
          "set 46 80 25 00 00 02 01 07 01", "set 45 00", "set 46 80 25 00 00 02 01 07 01"}},
        {"given settings while sending",
         uart(115200, 0, 0, 8, 0),
         {"--baud", "9600", "--parity", "odd"},
         {"get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 46 80 25 00 00 02 00 08 00",
          "set 45 00", "set 46 00 c2 01 00 00 00 08 00"}},
        {"kept",
         uart(115200, 0, 0, 8, 0),
         {"--baud", "9600", "--keep"},
         {"get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 46 80 25 00 00 00 00 08 00",
          "set 45 00"}},
    };
    QTemporaryDir dir;
    // Every byte value, 0x00 and 0xFF among them, and far more than one read of the input.
    const QByteArray data = pattern(200000);
    const QString file = writeFile(dir, "data.bin", data);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        AdapterFirmware& adapter = platform.AddAdapter("SER-A");
        adapter.SetUart(c.Own);
        platform.ClearWire();
        const CliResult result = run(QStringList{"send"} + c.Options + QStringList{file});
        EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
        EXPECT_TRUE(result.Out.isEmpty());
        EXPECT_TRUE(bytes(adapter.UartOutput()) == data);
        EXPECT_EQ(commands(wire()), joined({Handshake, c.Commands, Goodbye}));
        platform.Unplug(adapter);
    }
}

TEST_F(CliRunnerTest, SendFromStandardInputCutsFullReportsAndOneShortLast) {
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const QByteArray data = pattern(150);
    std::thread writer([&] {
        EXPECT_EQ(::write(fds[1], data.constData(), std::size_t(data.size())), data.size());
        ::close(fds[1]);
    });
    const CliResult result = run({"send", "-"}, fds[0]);
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
    EXPECT_TRUE(bytes(adapter.UartOutput()) == data);
    std::vector<std::string> ids;
    for (const std::string& line : wire()) {
        if (line.rfind("out ", 0) == 0)
            ids.push_back(line.substr(0, 6));
    }
    EXPECT_THAT(ids, ElementsAre("out c0", "out c0", "out 96"));
}

TEST_F(CliRunnerTest, SendEndedByCtrlCStopsAtTheReportUnderWayAndStillGivesTheSettingsBack) {
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    adapter.SetUart(uart(9600, 2, 1, 7, 1));
    QTemporaryDir dir;
    const QString file = writeFile(dir, "data.bin", pattern(100000));
    platform.StallWrites(true);
    const CliResult result = run({"send", "--baud", "57600", file}, -1, [&](CliRunner& runner) {
        if (platform.PendingWrites() == 0)
            return false;
        runner.Interrupt();
        return true;
    });
    platform.StallWrites(false);
    EXPECT_EQ(result.Status, ExitStatus::Interrupted);
    EXPECT_EQ(result.Err, "wendrake: interrupted after 0 bytes\n");
    EXPECT_TRUE(adapter.UartOutput().empty());
    const std::vector<std::string> sent = commands(wire());
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sent.end() - 4, sent.end()),
              (std::vector<std::string>{"set 45 00", "set 46 80 25 00 00 02 01 07 01", "set 40 02",
                                        "get 42 00"}));
}

TEST_F(CliRunnerTest, RecvWritesExactlyTheBytesAskedForThenGivesTheSettingsBack) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    QTemporaryDir dir;
    const QByteArray data = pattern(5000);
    struct Case {
        QStringList Arguments;
        int Expected;
        bool ToFile;
    };
    const Case cases[] = {
        {{"recv", "--count", "3000"}, 3000, false},
        {{"recv", "-n", "5000", "-o", dir.filePath("out.bin")}, 5000, true},
        {{"recv", "-n", "1"}, 1, false},
    };
    for (const Case& c : cases) {
        AdapterFirmware& adapter = platform.AddAdapter("SER-A");
        platform.ClearWire();
        std::thread feeder = feedWhenReading(platform, adapter, data);
        const CliResult result = run(c.Arguments);
        feeder.join();
        EXPECT_EQ(result.Status, 0) << result.Err.toStdString();
        const QByteArray got = c.ToFile ? readFile(dir.filePath("out.bin")) : result.Out;
        EXPECT_TRUE(got == data.left(c.Expected)) << got.size();
        EXPECT_EQ(result.Out.isEmpty(), c.ToFile);
        EXPECT_EQ(commands(wire()), joined({Handshake,
                                            {"get 46 00 c2 01 00 00 00 08 00", "set 45 01",
                                             "set 46 00 c2 01 00 00 00 08 00", "set 45 00",
                                             "set 46 00 c2 01 00 00 00 08 00"},
                                            Goodbye}));
        platform.Unplug(adapter);
    }
}

TEST_F(CliRunnerTest, RecvThatTimesOutBeforeTheCountKeepsWhatCameAndSaysHowMuch) {
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    std::thread feeder =
        feedWhenReading(platform, adapter, QByteArray("\0\xff\n\r abc\x7f\x80", 10));
    const CliResult result = run({"recv", "--count", "20", "--timeout", "1.5"});
    feeder.join();
    EXPECT_EQ(result.Status, ExitStatus::TimedOut);
    EXPECT_EQ(result.Out, QByteArray("\0\xff\n\r abc\x7f\x80", 10));
    EXPECT_EQ(result.Err, "wendrake: 10 of 20 bytes received in 1.5 s\n");
    // A time alone is no failure.
    EXPECT_EQ(run({"recv", "--timeout", "0.1"}).Status, 0);
}

TEST_F(CliRunnerTest, RecvEndsWithAFailureWhenTheAdapterIsUnplugged) {
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    std::thread unplug([&] {
        platform.WaitForPendingReads(1, std::chrono::seconds(10));
        platform.Unplug(adapter);
    });
    const CliResult result = run({"recv"});
    unplug.join();
    EXPECT_EQ(result.Status, ExitStatus::DeviceFailure);
    EXPECT_EQ(result.Err, "wendrake: adapter SER-A: the adapter stopped answering\n");
}

TEST_F(CliRunnerTest, TheAdapterIsChosenBySerialOrAsTheOnlyOneAndEachRefusalHasItsStatus) {
    struct Case {
        const char* Name;
        std::function<void(EmulatedHidPlatform&)> Setup;
        QStringList Arguments;
        int Status;
        QString Err; // %1: the path of the first adapter
        const char* Out;
    };
    // SER-B's counts tell its answer from SER-A's.
    const auto both = [](EmulatedHidPlatform& p) {
        p.AddAdapter("SER-A");
        p.AddAdapter("SER-B").SetFifoCounts(7, 9);
    };
    const Case cases[] = {
        {"none",
         [](EmulatedHidPlatform&) {},
         {"config"},
         ExitStatus::NoAdapter,
         "wendrake: no Wendrake adapter (USB e7a2:4d15) is attached\n",
         ""},
        {"several",
         both,
         {"fifo"},
         ExitStatus::Usage,
         "wendrake: several adapters are attached (SER-A, SER-B): choose one with -s SERIAL\n",
         ""},
        {"unknown serial",
         both,
         {"fifo", "-s", "SER-C"},
         ExitStatus::NoAdapter,
         "wendrake: no adapter with serial SER-C is attached (attached: SER-A, SER-B)\n",
         ""},
        {"chosen", both, {"fifo", "-s", "SER-B"}, 0, "", "tx 7\nrx 9\n"},
        {"held elsewhere",
         [](EmulatedHidPlatform& p) { p.HoldOpenElsewhere(p.AddAdapter("SER-A")); },
         {"fifo"},
         ExitStatus::InUse,
         "wendrake: adapter SER-A (%1): another program has this adapter open\n",
         ""},
        {"no permission",
         [](EmulatedHidPlatform& p) { p.DenyAccess(p.AddAdapter("SER-A")); },
         {"send", "/dev/null"},
         ExitStatus::NoPermission,
         "wendrake: adapter SER-A (%1): you may not open this adapter (Permission denied)\n",
         ""},
        {"a held one counts as attached",
         [](EmulatedHidPlatform& p) {
             p.AddAdapter("SER-A");
             p.HoldOpenElsewhere(p.AddAdapter("SER-B"));
         },
         {"fifo"},
         ExitStatus::Usage,
         "wendrake: several adapters are attached (SER-A, SER-B): choose one with -s SERIAL\n",
         ""},
        {"the free one beside a held one",
         [](EmulatedHidPlatform& p) {
             p.HoldOpenElsewhere(p.AddAdapter("SER-A"));
             p.AddAdapter("SER-B").SetFifoCounts(7, 9);
         },
         {"fifo", "-s", "SER-B"},
         0,
         "",
         "tx 7\nrx 9\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EmulatedHidPlatform own;
        own.SetAccessProblemsReported(true);
        c.Setup(own);
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        CliRunner runner(own, {-1, &out, &err});
        const CliParser::Outcome parsed = CliParser::Parse(c.Arguments);
        ASSERT_TRUE(parsed.Run);
        EXPECT_EQ(runner.Run(parsed.Request), c.Status);
        QString expected = c.Err;
        if (expected.contains("%1"))
            expected = expected.arg(QString::fromStdString(own.PathOf(0)));
        EXPECT_EQ(QString::fromUtf8(err.data()), expected);
        EXPECT_EQ(out.data(), c.Out);
        // A refusal sends nothing to any adapter.
        EXPECT_EQ(own.Wire().empty(), c.Status != 0);
    }
}

TEST_F(CliRunnerTest, ListShowsEveryAdapterWithItsNodeAndWhyItCannotBeOpened) {
    platform.AddAdapter("SER-A");
    platform.HoldOpenElsewhere(platform.AddAdapter("SER-LONGER-B"));
    platform.DenyAccess(platform.AddAdapter("SER-C"));
    const QString a = QString::fromStdString(platform.PathOf(0));
    const QString b = QString::fromStdString(platform.PathOf(1));
    const QString c = QString::fromStdString(platform.PathOf(2));
    const int width = int(std::max({a.size(), b.size(), c.size()}));

    const CliResult text = run({"list"});
    EXPECT_EQ(text.Status, 0);
    EXPECT_EQ(QString::fromUtf8(text.Out),
              "SER-A         " + a.leftJustified(width) + "  ok\n" + "SER-LONGER-B  " +
                  b.leftJustified(width) + "  another program has this adapter open\n" +
                  "SER-C         " + c.leftJustified(width) +
                  "  you may not open this adapter (Permission denied)\n");

    // The emulated nodes' names have backslashes, which JSON escapes.
    const auto json = [](QString text) { return text.replace("\\", "\\\\"); };
    EXPECT_EQ(QString::fromUtf8(run({"list", "-j"}).Out),
              "[{\"access\":\"ok\",\"node\":\"" + json(a) + "\",\"serial\":\"SER-A\"}," +
                  "{\"access\":\"in use\",\"node\":\"" + json(b) +
                  "\",\"reason\":\"another program has this adapter open\",\"serial\":"
                  "\"SER-LONGER-B\"}," +
                  "{\"access\":\"no permission\",\"node\":\"" + json(c) +
                  "\",\"reason\":\"you may not open this adapter (Permission denied)\","
                  "\"serial\":\"SER-C\"}]\n");
}

TEST_F(CliRunnerTest, AnAdapterThatFailsSaysWhichStepFailedWithStatusOne) {
    struct Case {
        const char* Name;
        std::function<void(AdapterFirmware&)> Setup;
        std::uint8_t FailingReport; // 0: none
        QStringList Arguments;
        const char* Err;
    };
    const Case cases[] = {
        {"refused",
         [](AdapterFirmware& a) { a.QueueModeAnswers({1}); },
         0,
         {"config"},
         "wendrake: adapter SER-A: the adapter refused the connection\n"},
        {"no answer",
         [](AdapterFirmware&) {},
         0x42,
         {"pins"},
         "wendrake: adapter SER-A: the adapter did not answer the connect handshake\n"},
        {"fifo",
         [](AdapterFirmware&) {},
         0x47,
         {"fifo"},
         "wendrake: adapter SER-A: FIFO status could not be retrieved\n"},
        {"purge",
         [](AdapterFirmware&) {},
         0x48,
         {"fifo", "--purge", "both"},
         "wendrake: adapter SER-A: FIFO could not be purged\n"},
        {"latch",
         [](AdapterFirmware&) {},
         0x4b,
         {"pins", "--set", "VPPCTL=1"},
         "wendrake: adapter SER-A: pin states could not be set\n"},
        {"uart enable",
         [](AdapterFirmware& a) { a.SetUart(uart(9600, 2, 1, 7, 1)); },
         0x45,
         {"send", "--keep", "/dev/null"},
         "wendrake: adapter SER-A: the UART could not be enabled\n"},
        {"uart settings",
         [](AdapterFirmware&) {},
         0x46,
         {"config", "--baud", "9600"},
         "wendrake: adapter SER-A: the UART settings could not be read\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        AdapterFirmware& adapter = platform.AddAdapter("SER-A");
        c.Setup(adapter);
        const AdapterFirmware::UartSettings own = adapter.Uart();
        platform.ClearFaults();
        if (c.FailingReport != 0)
            platform.FailFeatureReportId(c.FailingReport);
        const CliResult result = run(c.Arguments);
        platform.FailFeatureReportId(c.FailingReport, false);
        EXPECT_EQ(result.Status, ExitStatus::DeviceFailure);
        EXPECT_EQ(result.Err, c.Err);
        EXPECT_FALSE(platform.IsOpen(platform.IdOf(adapter)));
        // Flow control switched off for the start comes back, --keep or not: nothing was used.
        EXPECT_EQ(adapter.Uart(), own);
        platform.Unplug(adapter);
    }
}
