#include "connection/TerminalSession.h"

#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/AdapterSettings.h"

#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using ::testing::ElementsAre;

// The connect and tear-down sequences of the session, on the wire of an emulated adapter,
// without any window.

namespace {

class TerminalSessionTest : public ::testing::Test {
protected:
    // The window's connect: on any result but Connected the tear-down follows.
    TerminalSession::ConnectResult connect() {
        const TerminalSession::ConnectResult result = session.Connect(0);
        if (result != TerminalSession::ConnectResult::Connected)
            session.Disconnect();
        return result;
    }
    std::vector<std::string> wire() const { return platform.WireSummary(); }

    QTemporaryDir settingsDir;
    EmulatedHidPlatform platform;
    CWendrake wendrake{platform};
    TerminalSession session{wendrake, settingsDir.path()};
};

} // namespace

TEST_F(TerminalSessionTest, UartEnableFailureRestoresTheConfigurationBeforeClosing) {
    platform.AddAdapter("SER-A").SetUart(uart(9600, 2, 1, 7, 1));
    platform.FailFeatureReportId(AdapterFirmware::UartEnableReport);

    EXPECT_EQ(connect(), TerminalSession::ConnectResult::UartNotEnabled);

    const std::vector<std::string> sent = wire();
    ASSERT_GE(sent.size(), 4u);
    // Flow control off, the refused enable, then the saved configuration back and the handshake.
    EXPECT_THAT(std::vector<std::string>(sent.begin() + 4, sent.end()),
                ElementsAre("get 46 80 25 00 00 02 01 07 01", "set 46 80 25 00 00 02 00 07 01",
                            "set 45 01 (failed)", "set 46 80 25 00 00 02 01 07 01", "set 40 02",
                            "get 42 00"));
}

TEST_F(TerminalSessionTest, WithoutTheResetOptionNoLatchIsWrittenAndNothingIsFlushed) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    adapter.InjectUartInput("boot"); // waits in the adapter, reaches the host at open
    session.Settings().ToggleResetOnConnect = 0;
    session.Settings().Pins.Gpio0Mode = 2;
    session.Settings().Uart.BaudRate = 57600;

    connect();

    const std::vector<std::string> sent = wire();
    EXPECT_TRUE(std::none_of(sent.begin(), sent.end(),
                             [](const std::string& line) { return line.rfind("set 4b", 0) == 0; }));
    // The receive thread runs from before the configuration writes, so the input report it
    // reads may sit anywhere among them: compare the commands alone.
    std::vector<std::string> commands;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(commands),
                 [](const std::string& line) { return line.rfind("in ", 0) != 0; });
    ASSERT_GE(commands.size(), 8u);
    EXPECT_THAT(std::vector<std::string>(commands.begin() + 4, commands.begin() + 8),
                ElementsAre("get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 49 02 00 00 00",
                            "set 46 00 e1 00 00 00 00 08 00"));
    // The bytes from before the connection were not flushed: the running receive thread reads
    // them. (A report it has taken but not yet recorded is neither queued nor on the wire, so
    // the check waits for the read itself.)
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::vector<std::string> now = wire();
            return std::find(now.begin(), now.end(), "in 84 62 6f 6f 74") != now.end();
        },
        5000));
}

TEST_F(TerminalSessionTest, ResetPulseDiscardsTheInputQueuedBeforeIt) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    adapter.InjectUartInput("boot");

    connect();

    ASSERT_TRUE(session.IsConnected());
    EXPECT_EQ(platform.QueuedInputReports(0), 0u);
    const std::vector<std::string> sent = wire();
    EXPECT_TRUE(std::none_of(sent.begin(), sent.end(),
                             [](const std::string& line) { return line.rfind("in ", 0) == 0; }));
}

TEST_F(TerminalSessionTest, PinPollStopsItselfWhenNotConnected) {
    session.StartPinPoll();
    ASSERT_TRUE(session.IsPinPollActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !session.IsPinPollActive(); }, 5000));
}
