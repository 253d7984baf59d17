#include "connection/AdapterConnection.h"

#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/AdapterSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The connect and tear-down of one adapter without a window, on the wire of an emulated adapter.

namespace {

struct SequenceCase {
    const char* Name;
    AdapterFirmware::UartSettings Own;
    bool PulseReset;
    bool Keep;
    std::vector<std::string> Wire; // after the connect handshake
};

class AdapterConnectionSequenceTest : public ::testing::TestWithParam<SequenceCase> {};

const SequenceCase SequenceCases[] = {
    {"Plain",
     uart(115200, 0, 0, 8, 0),
     false,
     false,
     {"get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 45 00", "set 46 00 c2 01 00 00 00 08 00",
      "set 40 02", "get 42 00"}},
    {"FlowControlOffBeforeTheUartAndBackAtTheEnd",
     uart(9600, 2, 1, 7, 1),
     false,
     false,
     {"get 46 80 25 00 00 02 01 07 01", "set 46 80 25 00 00 02 00 07 01", "set 45 01", "set 45 00",
      "set 46 80 25 00 00 02 01 07 01", "set 40 02", "get 42 00"}},
    {"ResetPulse",
     uart(115200, 0, 0, 8, 0),
     true,
     false,
     {"get 46 00 c2 01 00 00 00 08 00", "set 45 01", "set 4b fb 04", "set 4b 04 04", "set 45 00",
      "set 46 00 c2 01 00 00 00 08 00", "set 40 02", "get 42 00"}},
    {"KeptSettingsAreNotWrittenBack",
     uart(9600, 2, 1, 7, 1),
     false,
     true,
     {"get 46 80 25 00 00 02 01 07 01", "set 46 80 25 00 00 02 00 07 01", "set 45 01", "set 45 00",
      "set 40 02", "get 42 00"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, AdapterConnectionSequenceTest, ::testing::ValuesIn(SequenceCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace

TEST_P(AdapterConnectionSequenceTest, RunsTheWindowsStepsInOrderOnTheWire) {
    const SequenceCase& c = GetParam();
    EmulatedHidPlatform platform;
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    adapter.SetUart(c.Own);
    CWendrake wendrake(platform);
    std::vector<bool> blanks;
    {
        AdapterConnection connection(wendrake, {});
        ASSERT_EQ(connection.Open(0), WendrakeOk);
        ASSERT_EQ(connection.StartUart(c.PulseReset, [&](bool blank) { blanks.push_back(blank); }),
                  AdapterConnection::UartResult::Started);
        EXPECT_EQ(connection.SavedUartConfig(), std::optional<UartConfig>(c.Own));
        connection.StartReceiving();
        EXPECT_TRUE(connection.Receiver().isRunning());
        connection.Close(c.Keep);
        EXPECT_FALSE(connection.Receiver().isRunning());
        EXPECT_FALSE(wendrake.IsConnected());
    } // the destructor finds nothing left to do

    std::vector<std::string> wire = platform.WireSummary();
    ASSERT_GE(wire.size(), 4u);
    wire.erase(wire.begin(), wire.begin() + 4);
    EXPECT_EQ(wire, c.Wire);
    EXPECT_EQ(blanks, (c.PulseReset ? std::vector<bool>{true, false} : std::vector<bool>{}));
    EXPECT_EQ(adapter.UartEnabled(), false);
}

TEST(AdapterConnectionTest, ATearDownAfterAFailedStartStillWritesTheSettingsBackAndCloses) {
    EmulatedHidPlatform platform;
    AdapterFirmware& adapter = platform.AddAdapter("SER-A");
    adapter.SetUart(uart(9600, 2, 1, 7, 1));
    CWendrake wendrake(platform);
    {
        AdapterConnection connection(wendrake, {});
        ASSERT_EQ(connection.Open(0), WendrakeOk);
        platform.FailFeatureReportId(AdapterFirmware::UartEnableReport);
        EXPECT_EQ(connection.StartUart(false), AdapterConnection::UartResult::NotEnabled);
        platform.FailFeatureReportId(AdapterFirmware::UartEnableReport, false);
        // The destructor is the tear-down of a caller that returns early.
    }
    EXPECT_FALSE(platform.IsOpen(platform.IdOf(adapter)));
    const std::vector<std::string> wire = platform.WireSummary();
    ASSERT_GE(wire.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(wire.end() - 3, wire.end()),
        (std::vector<std::string>{"set 46 80 25 00 00 02 01 07 01", "set 40 02", "get 42 00"}));
}
