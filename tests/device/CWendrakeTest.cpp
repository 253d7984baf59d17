#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <numeric>
#include <optional>
#include <vector>

// CWendrake against emulated adapters; the wire record of the platform is what is asserted.

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
constexpr auto Generous = 2s;

// The emulated platform with two additions: a read can be answered from a script (report ids an
// adapter never sends), and a hook runs right after a platform read returns (a stop that lands
// while data is on its way).
class ScriptedPlatform : public EmulatedHidPlatform {
public:
    std::optional<std::vector<std::uint8_t>> scriptedRead;
    std::function<void()> afterRead;
    std::atomic<int> reads{0};

    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override {
        ++reads;
        TransferOutcome outcome;
        if (scriptedRead) {
            const std::size_t n = std::min(length, scriptedRead->size());
            std::copy_n(scriptedRead->begin(), n, buffer);
            bytesRead = n;
            scriptedRead.reset();
            outcome = TransferOutcome::Completed;
        } else {
            outcome =
                EmulatedHidPlatform::readReports(handle, buffer, length, timeoutMs, bytesRead);
        }
        if (afterRead)
            afterRead();
        return outcome;
    }
};

std::vector<std::uint8_t> pattern(std::size_t count, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> data(count);
    for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 7);
    return data;
}

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

class CWendrakeTest : public ::testing::Test {
protected:
    ScriptedPlatform platform;
    AdapterFirmware& adapter = platform.AddAdapter("WD000001");
    CWendrake wendrake{platform};

    void connect() {
        ASSERT_EQ(wendrake.Connect(0), WendrakeOk);
        platform.ClearWire();
    }

    // Output reports on the wire: id and full length.
    std::vector<std::pair<std::uint8_t, std::size_t>> outputReports() const {
        std::vector<std::pair<std::uint8_t, std::size_t>> reports;
        for (const auto& record : platform.Wire())
            if (record.kind == EmulatedHidPlatform::WireRecord::Kind::OutputReport)
                reports.emplace_back(record.reportId, record.length);
        return reports;
    }

    struct ReadResult {
        WendrakeStatus status;
        std::vector<std::uint8_t> bytes;
        std::uint16_t count;
    };
    ReadResult read(std::uint16_t initialCount = 0) {
        std::vector<std::uint8_t> destination(wendrake.GetReceiveBufferSize());
        std::uint16_t count = initialCount;
        const WendrakeStatus status = wendrake.ReadUart(
            destination.data(), static_cast<std::uint32_t>(destination.size()), &count);
        destination.resize(status == WendrakeOk ? count : 0);
        return {status, destination, count};
    }
    std::future<ReadResult> readAsync(std::uint16_t initialCount = 0) {
        return std::async(std::launch::async, [this, initialCount] { return read(initialCount); });
    }
};

// --- Connect and Disconnect handshakes --------------------------------------------------------

TEST_F(CWendrakeTest, ConnectHandshakeBranches) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> modeAnswers;
        unsigned failFeature; // n-th feature transfer fails, 0 = none
        WendrakeStatus expected;
        bool openAfter;
        Lines wire;
    };
    const Case cases[] = {
        {"state 1 at first GetMode",
         {1},
         0,
         WendrakeModeRefused,
         false,
         {"set 40 02", "get 42 01", "set 40 01"}},
        {"state 0 then 1",
         {0, 1},
         0,
         WendrakeOk,
         true,
         {"set 40 02", "get 42 00", "set 41 00", "get 42 01"}},
        {"state 0 then 0",
         {0, 0},
         0,
         WendrakeModeRefused,
         false,
         {"set 40 02", "get 42 00", "set 41 00", "get 42 00", "set 40 01"}},
        {"state 2", {2}, 0, WendrakeCommandFailed, true, {"set 40 02", "get 42 02"}},
        {"state 0 then 2",
         {0, 2},
         0,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 00", "set 41 00", "get 42 02"}},
        {"SetMode(2) fails", {0, 1}, 1, WendrakeCommandFailed, true, {"set 40 02 (failed)"}},
        {"first GetMode fails",
         {0, 1},
         2,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 00 (failed)"}},
        {"state 1, SetMode(1) fails",
         {1},
         3,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 01", "set 40 01 (failed)"}},
        {"confirm fails",
         {0, 1},
         3,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 00", "set 41 00 (failed)"}},
        {"confirming GetMode fails",
         {0, 1},
         4,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 00", "set 41 00", "get 42 00 (failed)"}},
        {"state 0 then 0, SetMode(1) fails",
         {0, 0},
         5,
         WendrakeCommandFailed,
         true,
         {"set 40 02", "get 42 00", "set 41 00", "get 42 00", "set 40 01 (failed)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPlatform p;
        AdapterFirmware& fw = p.AddAdapter("X");
        for (std::uint8_t answer : c.modeAnswers)
            fw.QueueModeAnswer(answer);
        if (c.failFeature)
            p.FailNthFeatureTransfer(c.failFeature);
        CWendrake w(p);
        EXPECT_EQ(w.Connect(0), c.expected);
        EXPECT_EQ(p.WireSummary(), c.wire);
        EXPECT_EQ(w.IsConnected(), c.openAfter);
        EXPECT_EQ(p.IsOpen(0), c.openAfter);
        // Every ending leaves the object in a state the caller's disconnect path can clean up.
        if (c.openAfter)
            w.Disconnect();
        EXPECT_FALSE(p.IsOpen(0));
    }
}

TEST_F(CWendrakeTest, ConnectTwiceSendsNothing) {
    connect();
    EXPECT_EQ(wendrake.Connect(0), WendrakeAlreadyConnected);
    EXPECT_TRUE(platform.WireSummary().empty());
    EXPECT_TRUE(wendrake.IsConnected());
}

TEST_F(CWendrakeTest, ConnectWithoutOpenableAdapter) {
    EXPECT_EQ(wendrake.Connect(1), WendrakeOpenFailed);
    platform.HoldOpenElsewhere(adapter);
    EXPECT_EQ(wendrake.Connect(0), WendrakeOpenFailed);
    EXPECT_FALSE(wendrake.IsConnected());
    EXPECT_TRUE(platform.WireSummary().empty());
    platform.HoldOpenElsewhere(adapter, false);
    EXPECT_EQ(wendrake.Connect(0), WendrakeOk);
}

TEST_F(CWendrakeTest, UnusableReportLengthsAreRefusedBeforeAnythingIsSent) {
    struct Case {
        HidCaps caps;
        WendrakeStatus expected;
    };
    const Case cases[] = {
        {{65, 65, 8}, WendrakeUnsupportedDevice},
        {{65, 65, 0}, WendrakeUnsupportedDevice},
        {{1, 65, 9}, WendrakeUnsupportedDevice},
        {{66, 65, 9}, WendrakeUnsupportedDevice},
        {{65, 1, 9}, WendrakeUnsupportedDevice},
        {{65, 66, 9}, WendrakeUnsupportedDevice},
        {{2, 2, 9}, WendrakeOk},
        {{65, 65, 9}, WendrakeOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.caps.InputReportLength << "/" << c.caps.OutputReportLength << "/"
                     << c.caps.FeatureReportLength);
        platform.SetCapabilities(0, c.caps);
        platform.ClearWire();
        EXPECT_EQ(wendrake.Connect(0), c.expected);
        if (c.expected == WendrakeUnsupportedDevice) {
            EXPECT_TRUE(platform.WireSummary().empty());
            EXPECT_FALSE(wendrake.IsConnected());
            EXPECT_FALSE(platform.IsOpen(0));
            EXPECT_EQ(wendrake.GetReceiveBufferSize(), 0u);
        } else {
            EXPECT_EQ(wendrake.Disconnect(), WendrakeOk);
        }
    }
}

TEST_F(CWendrakeTest, DisconnectBranches) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> modeAnswers;
        unsigned failFeature;
        WendrakeStatus expected;
        Lines wire;
    };
    const Case cases[] = {
        {"state 0", {0}, 0, WendrakeOk, {"set 40 02", "get 42 00"}},
        {"state 1", {1}, 0, WendrakeModeRefused, {"set 40 02", "get 42 01", "set 40 01"}},
        {"state 1, SetMode(1) fails",
         {1},
         3,
         WendrakeCommandFailed,
         {"set 40 02", "get 42 01", "set 40 01 (failed)"}},
        {"state 2", {2}, 0, WendrakeCommandFailed, {"set 40 02", "get 42 02"}},
        {"SetMode(2) fails", {0}, 1, WendrakeCommandFailed, {"set 40 02 (failed)"}},
        {"GetMode fails", {0}, 2, WendrakeCommandFailed, {"set 40 02", "get 42 00 (failed)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        connect();
        ASSERT_EQ(wendrake.EnableUart(), WendrakeOk);
        platform.ClearWire();
        for (std::uint8_t answer : c.modeAnswers)
            adapter.QueueModeAnswer(answer);
        if (c.failFeature)
            platform.FailNthFeatureTransfer(c.failFeature);
        EXPECT_EQ(wendrake.Disconnect(), c.expected);
        EXPECT_EQ(platform.WireSummary(), c.wire);
        EXPECT_FALSE(wendrake.IsConnected());
        EXPECT_FALSE(platform.IsOpen(0));
        platform.ClearFaults();
        adapter.ClearModeAnswers();
    }
    platform.ClearWire();
    EXPECT_EQ(wendrake.Disconnect(), WendrakeNotConnected);
    EXPECT_TRUE(platform.WireSummary().empty());
}

TEST_F(CWendrakeTest, DestructionClosesWithoutAnyReport) {
    {
        CWendrake other(platform);
        ASSERT_EQ(other.Connect(0), WendrakeOk);
        platform.ClearWire();
    }
    EXPECT_TRUE(platform.WireSummary().empty());
    EXPECT_FALSE(platform.IsOpen(0));
}

// --- Commands ---------------------------------------------------------------------------------

TEST_F(CWendrakeTest, UartEnableIsCached) {
    connect();
    EXPECT_EQ(wendrake.DisableUart(), WendrakeOk);
    EXPECT_TRUE(platform.WireSummary().empty()) << "a fresh connection has nothing to disable";

    EXPECT_EQ(wendrake.EnableUart(), WendrakeOk);
    EXPECT_EQ(wendrake.EnableUart(), WendrakeOk);
    EXPECT_EQ(platform.WireSummary(), Lines{"set 45 01"});
    EXPECT_TRUE(adapter.UartEnabled());

    platform.ClearWire();
    platform.FailNthFeatureTransfer(1);
    EXPECT_EQ(wendrake.DisableUart(), WendrakeCommandFailed);
    EXPECT_EQ(wendrake.DisableUart(), WendrakeOk) << "a failed disable keeps the flag set";
    EXPECT_EQ(wendrake.DisableUart(), WendrakeOk);
    EXPECT_EQ(platform.WireSummary(), (Lines{"set 45 00 (failed)", "set 45 00"}));
    EXPECT_FALSE(adapter.UartEnabled());

    // A new connection starts with the flag clear.
    ASSERT_EQ(wendrake.EnableUart(), WendrakeOk);
    ASSERT_EQ(wendrake.Disconnect(), WendrakeOk);
    connect();
    EXPECT_EQ(wendrake.EnableUart(), WendrakeOk);
    EXPECT_EQ(platform.WireSummary(), Lines{"set 45 01"});
}

TEST_F(CWendrakeTest, SetModeChecksItsParameter) {
    connect();
    for (std::uint8_t mode : {0, 3, 255})
        EXPECT_EQ(wendrake.SetMode(mode), WendrakeInvalidParameter) << int(mode);
    EXPECT_TRUE(platform.WireSummary().empty());
    EXPECT_EQ(wendrake.SetMode(1), WendrakeOk);
    EXPECT_EQ(wendrake.SetMode(2), WendrakeOk);
    EXPECT_EQ(platform.WireSummary(), (Lines{"set 40 01", "set 40 02"}));
}

TEST_F(CWendrakeTest, PurgeCodes) {
    struct Case {
        bool first, second;
        Lines wire;
    };
    const Case cases[] = {
        {false, false, {}},
        {true, false, {"set 48 00"}},
        {false, true, {"set 48 01"}},
        {true, true, {"set 48 02"}},
    };
    connect();
    for (const Case& c : cases) {
        platform.ClearWire();
        EXPECT_EQ(wendrake.PurgeFifo(c.first, c.second), WendrakeOk);
        EXPECT_EQ(platform.WireSummary(), c.wire);
    }
    EXPECT_EQ(adapter.PurgeCodes(), (std::vector<std::uint8_t>{0, 1, 2}));
}

TEST_F(CWendrakeTest, UartConfigBaudIsLittleEndian) {
    struct Case {
        UartConfig config;
        const char* wire;
    };
    const Case cases[] = {
        {{9600, 0, 0, 8, 0}, "set 46 80 25 00 00 00 00 08 00"},
        {{115200, 1, 1, 7, 1}, "set 46 00 c2 01 00 01 01 07 01"},
        {{0x12345678, 4, 0, 5, 1}, "set 46 78 56 34 12 04 00 05 01"},
    };
    connect();
    for (const Case& c : cases) {
        platform.ClearWire();
        ASSERT_EQ(wendrake.SetUartConfig(&c.config), WendrakeOk);
        EXPECT_EQ(platform.WireSummary(), Lines{c.wire});
        UartConfig back{};
        ASSERT_EQ(wendrake.GetUartConfig(&back), WendrakeOk);
        EXPECT_EQ(back, c.config);
    }
    adapter.SetUart({0xA1B2C3D4, 2, 1, 6, 0});
    UartConfig read{};
    ASSERT_EQ(wendrake.GetUartConfig(&read), WendrakeOk);
    EXPECT_EQ(read, (UartConfig{0xA1B2C3D4, 2, 1, 6, 0}));
}

TEST_F(CWendrakeTest, FifoCountsAreBigEndian) {
    connect();
    adapter.SetFifoCounts(258, 16);
    FifoStatus status;
    ASSERT_EQ(wendrake.GetFifoStatus(&status), WendrakeOk);
    EXPECT_EQ(platform.WireSummary(), Lines{"get 47 01 02 00 10"});
    EXPECT_EQ(status.TxCount, 258);
    EXPECT_EQ(status.RxCount, 16);
    adapter.SetFifoCounts(0xFFFE, 0x0100);
    ASSERT_EQ(wendrake.GetFifoStatus(&status), WendrakeOk);
    EXPECT_EQ(status, (FifoStatus{0xFFFE, 0x0100}));
}

TEST_F(CWendrakeTest, PinLatchAndPinConfig) {
    connect();
    ASSERT_EQ(adapter.Latch(), 0x07);
    EXPECT_EQ(wendrake.SetPinLatch(0xFB, 0x04), WendrakeOk);
    EXPECT_EQ(adapter.Latch(), 0x03) << "only Q3 Reset goes low";
    std::uint8_t latch = 0;
    ASSERT_EQ(wendrake.GetPinLatch(&latch), WendrakeOk);
    EXPECT_EQ(latch, 0x03);
    EXPECT_EQ(wendrake.SetPinLatch(0x04, 0x04), WendrakeOk);
    EXPECT_EQ(adapter.Latch(), 0x07);
    EXPECT_EQ(platform.WireSummary(), (Lines{"set 4b fb 04", "get 4a 03", "set 4b 04 04"}));

    platform.ClearWire();
    const PinConfig pins{3, 3, 1, 1};
    ASSERT_EQ(wendrake.SetPinConfig(&pins), WendrakeOk);
    PinConfig back{};
    ASSERT_EQ(wendrake.GetPinConfig(&back), WendrakeOk);
    EXPECT_EQ(back, pins);
    EXPECT_EQ(platform.WireSummary(), (Lines{"set 49 03 03 01 01", "get 49 03 03 01 01"}));
}

TEST_F(CWendrakeTest, DeviceVersion) {
    adapter.SetVersion(2, 7);
    connect();
    std::uint8_t major = 0, minor = 0;
    ASSERT_EQ(wendrake.GetDeviceVersionMajor(&major), WendrakeOk);
    ASSERT_EQ(wendrake.GetDeviceVersionMinor(&minor), WendrakeOk);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 7);
    EXPECT_EQ(platform.WireSummary(), (Lines{"get 43 02", "get 44 07"}));
}

TEST_F(CWendrakeTest, MissingRecordsAreInvalidParameters) {
    connect();
    const std::function<WendrakeStatus()> calls[] = {
        [&] { return wendrake.GetMode(nullptr); },
        [&] { return wendrake.GetDeviceVersionMajor(nullptr); },
        [&] { return wendrake.GetDeviceVersionMinor(nullptr); },
        [&] { return wendrake.GetPinLatch(nullptr); },
        [&] { return wendrake.GetUartConfig(nullptr); },
        [&] { return wendrake.SetUartConfig(nullptr); },
        [&] { return wendrake.GetFifoStatus(nullptr); },
        [&] { return wendrake.GetPinConfig(nullptr); },
        [&] { return wendrake.SetPinConfig(nullptr); },
    };
    for (const auto& call : calls)
        EXPECT_EQ(call(), WendrakeInvalidParameter);
    EXPECT_TRUE(platform.WireSummary().empty());
}

TEST_F(CWendrakeTest, CommandsOnDisconnectedOrUnpluggedAdapterFail) {
    std::uint8_t byte = 0x5A;
    UartConfig uart{1200, 0, 0, 8, 0};
    FifoStatus fifo{7, 7};
    PinConfig pins{1, 1, 1, 1};
    const std::function<WendrakeStatus()> calls[] = {
        [&] { return wendrake.SetMode(2); },
        [&] { return wendrake.ConfirmMode(); },
        [&] { return wendrake.GetMode(&byte); },
        [&] { return wendrake.GetDeviceVersionMajor(&byte); },
        [&] { return wendrake.GetDeviceVersionMinor(&byte); },
        [&] { return wendrake.GetPinLatch(&byte); },
        [&] { return wendrake.SetPinLatch(0, 1); },
        [&] { return wendrake.EnableUart(); },
        [&] { return wendrake.GetUartConfig(&uart); },
        [&] { return wendrake.SetUartConfig(&uart); },
        [&] { return wendrake.GetFifoStatus(&fifo); },
        [&] { return wendrake.PurgeFifo(true, true); },
        [&] { return wendrake.GetPinConfig(&pins); },
        [&] { return wendrake.SetPinConfig(&pins); },
        [&] { return wendrake.FlushReceiveReports(); },
    };
    for (const auto& call : calls)
        EXPECT_EQ(call(), WendrakeCommandFailed);
    EXPECT_TRUE(platform.WireSummary().empty());

    connect();
    platform.Unplug(adapter);
    for (const auto& call : calls)
        EXPECT_EQ(call(), WendrakeCommandFailed);
    // Results are copied out only on success.
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(uart, (UartConfig{1200, 0, 0, 8, 0}));
    EXPECT_EQ(fifo, (FifoStatus{7, 7}));
    EXPECT_EQ(pins, (PinConfig{1, 1, 1, 1}));
    EXPECT_TRUE(wendrake.IsConnected()) << "the loss is noticed by the caller";
    EXPECT_EQ(wendrake.Disconnect(), WendrakeCommandFailed);
    EXPECT_FALSE(wendrake.IsConnected());
}

TEST_F(CWendrakeTest, CountAndSerialStrings) {
    platform.AddAdapter(u"SECOND\u0142");
    platform.AddOtherDevice(0x1234, 0x5678, u"OTHER");
    platform.AddAdapter(u"AB\u0100CD");
    EXPECT_EQ(wendrake.GetDeviceCount(), 3u);

    struct Case {
        unsigned index;
        HidStatus status;
        std::string serial;
    };
    const Case cases[] = {
        {0, HidOk, "WD000001"},
        {1, HidOk, "SECOND\x42"}, // U+0142 keeps its low byte
        {2, HidOk, "AB"},         // U+0100 has a zero low byte, which ends the text
        {3, HidNoDevice, "unchanged"},
    };
    for (const Case& c : cases) {
        std::string serial = "unchanged";
        EXPECT_EQ(wendrake.GetSerialString(c.index, serial), c.status) << c.index;
        EXPECT_EQ(serial, c.serial);
    }

    platform.HoldOpenElsewhere(adapter);
    EXPECT_EQ(wendrake.GetDeviceCount(), 2u);
    std::string serial;
    ASSERT_EQ(wendrake.GetSerialString(0, serial), HidOk);
    EXPECT_EQ(serial, "SECOND\x42");
}

// --- Receive buffer size ----------------------------------------------------------------------

TEST_F(CWendrakeTest, ReceiveBufferSize) {
    EXPECT_EQ(wendrake.GetReceiveBufferSize(), 0u);
    connect();
    EXPECT_EQ(wendrake.GetReceiveBufferSize(), 63u * 64);
    ASSERT_EQ(wendrake.Disconnect(), WendrakeOk);
    EXPECT_EQ(wendrake.GetReceiveBufferSize(), 0u);

    // NT 5.1 keeps its own count of 512 reports and sets it on the driver.
    platform.SetOsVersion({2, 5, 1});
    platform.SetInputBufferCountSettable(true);
    CWendrake nt(platform);
    ASSERT_EQ(nt.Connect(0), WendrakeOk);
    EXPECT_EQ(nt.GetReceiveBufferSize(), 512u * 64);
}

TEST_F(CWendrakeTest, OneReadNeverDeliversMoreThanTheCountCanHold) {
    // 2000 queued reports of 64 bytes would be 128000 bytes, beyond the 16-bit receive count.
    platform.SetDefaultInputBufferCount(2000);
    connect();
    const std::uint32_t size = wendrake.GetReceiveBufferSize();
    EXPECT_LE(size, 0xFFFFu);
    EXPECT_EQ(size % 64, 0u);

    const auto data = pattern(1100 * 64);
    adapter.InjectUartInput(data.data(), data.size());
    std::vector<std::uint8_t> received;
    while (received.size() < data.size()) {
        const ReadResult result = read();
        ASSERT_EQ(result.status, WendrakeOk);
        ASSERT_GT(result.count, 0);
        ASSERT_EQ(result.count, result.bytes.size());
        received.insert(received.end(), result.bytes.begin(), result.bytes.end());
    }
    EXPECT_EQ(received, data);
}

// --- WriteUart --------------------------------------------------------------------------------

TEST_F(CWendrakeTest, WriteUartChunks) {
    struct Case {
        std::uint16_t outputLength;
        std::uint32_t count;
        std::vector<std::uint8_t> ids;
    };
    const Case cases[] = {
        {65, 0, {}},
        {65, 64, {0xC0}},
        {65, 65, {0xC0, 0x81}},
        {65, 128, {0xC0, 0xC0}},
        {65, 150, {0xC0, 0xC0, 0x96}},
        {9, 20, {0x88, 0x88, 0x84}},
        {2, 3, {0x81, 0x81, 0x81}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "L=" << c.outputLength << " count=" << c.count);
        platform.SetCapabilities(0, {65, c.outputLength, 9});
        connect();
        adapter.ClearUartOutput();
        const auto data = pattern(c.count);
        std::atomic<std::uint32_t> progress{5};
        EXPECT_EQ(wendrake.WriteUart(data.data(), c.count, &progress), WendrakeOk);
        EXPECT_EQ(progress, 5 + c.count) << "the counter is added to, never reset";

        std::vector<std::uint8_t> ids;
        std::vector<std::uint8_t> sent;
        for (const auto& record : platform.Wire()) {
            ASSERT_EQ(record.kind, EmulatedHidPlatform::WireRecord::Kind::OutputReport);
            ASSERT_EQ(record.length, c.outputLength);
            ids.push_back(record.reportId);
            const std::size_t n = record.reportId - 0x80u;
            sent.insert(sent.end(), record.bytes.begin() + 1, record.bytes.begin() + 1 + n);
            for (std::size_t i = 1 + n; i < record.bytes.size(); ++i)
                ASSERT_EQ(record.bytes[i], 0) << "padding after the data must be zero";
        }
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(sent, data);
        EXPECT_EQ(adapter.UartOutput(), data);
        ASSERT_EQ(wendrake.Disconnect(), WendrakeOk);
    }
}

TEST_F(CWendrakeTest, WriteUartStopsAtTheFirstFailedReport) {
    connect();
    const auto data = pattern(150);
    std::atomic<std::uint32_t> progress{0};
    platform.FailNthWrite(2);
    EXPECT_EQ(wendrake.WriteUart(data.data(), 150, &progress), WendrakeCommandFailed);
    EXPECT_EQ(progress, 64u);
    EXPECT_EQ(outputReports(),
              (std::vector<std::pair<std::uint8_t, std::size_t>>{{0xC0, 65}, {0xC0, 65}}));
    EXPECT_FALSE(platform.Wire().back().succeeded);
    EXPECT_EQ(adapter.UartOutput(), std::vector<std::uint8_t>(data.begin(), data.begin() + 64));
    // Without a counter the failure is reported all the same.
    platform.FailNthWrite(1);
    EXPECT_EQ(wendrake.WriteUart(data.data(), 10), WendrakeCommandFailed);
}

TEST_F(CWendrakeTest, WriteUartOnDisconnectedAdapter) {
    const std::uint8_t byte = 'x';
    EXPECT_EQ(wendrake.WriteUart(&byte, 0), WendrakeNotConnected);
    EXPECT_EQ(wendrake.WriteUart(&byte, 1), WendrakeNotConnected);
    connect();
    EXPECT_EQ(wendrake.WriteUart(nullptr, 0), WendrakeOk);
    EXPECT_TRUE(platform.WireSummary().empty());
}

TEST_F(CWendrakeTest, WriteUartReportTimeout) {
    connect();
    platform.StallWrites(true);
    const auto data = pattern(100);
    std::atomic<std::uint32_t> progress{0};
    EXPECT_EQ(wendrake.WriteUart(data.data(), 100, &progress, 20), WendrakeCommandFailed);
    EXPECT_EQ(progress, 0u);
    platform.StallWrites(false);
    EXPECT_EQ(wendrake.WriteUart(data.data(), 100, &progress, 1000), WendrakeOk);
    EXPECT_EQ(progress, 100u);
}

TEST_F(CWendrakeTest, UnplugDuringPendingWrite) {
    connect();
    platform.StallWrites(true);
    const auto data = pattern(150);
    std::atomic<std::uint32_t> progress{0};
    auto writer = std::async(std::launch::async,
                             [&] { return wendrake.WriteUart(data.data(), 150, &progress); });
    ASSERT_TRUE(platform.WaitForPendingWrites(1, Generous));
    platform.Unplug(adapter);
    ASSERT_EQ(writer.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(writer.get(), WendrakeCommandFailed);
    // The report pending at the unplug never left, so it is not counted.
    EXPECT_EQ(progress, 0u);
    EXPECT_TRUE(adapter.UartOutput().empty());
    EXPECT_TRUE(wendrake.IsConnected());
}

// --- ReadUart ---------------------------------------------------------------------------------

TEST_F(CWendrakeTest, ReadUartUnpacksEveryQueuedReportInOneRead) {
    connect();
    const auto data = pattern(150);
    adapter.InjectUartInput(data.data(), data.size());
    const ReadResult result = read();
    ASSERT_EQ(result.status, WendrakeOk);
    EXPECT_EQ(result.bytes, data);
    EXPECT_EQ(platform.reads, 1);
    EXPECT_EQ(platform.WireSummary().size(), 3u);
}

TEST_F(CWendrakeTest, ReadUartSkipsForeignIdsAndClipsOverlongOnes) {
    struct Case {
        const char* name;
        std::uint16_t inputLength;
        std::vector<std::vector<std::uint8_t>> reports;
        std::string expected;
    };
    const Case cases[] = {
        {"0x83, 0x00, 0x81",
         65,
         {{0x83, 'a', 'b', 'c'}, {0x00, 'x', 'y'}, {0x81, 'z', 'q'}},
         "abcz"},
        {"ids outside 0x81-0xC0",
         65,
         {{0x80, 'x'}, {0xC1, 'x'}, {0xFF, 'x'}, {0x82, 'o', 'k'}},
         "ok"},
        // An id claiming more bytes than a 10-byte report holds: only its 9 bytes are taken.
        {"id beyond the report",
         10,
         {{0xC0, '1', '2', '3', '4', '5', '6', '7', '8', '9'}, {0x82, 'x', 'y'}},
         "123456789xy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.SetCapabilities(0, {c.inputLength, 65, 9});
        connect();
        std::vector<std::uint8_t> burst;
        for (auto report : c.reports) {
            report.resize(c.inputLength, 0);
            burst.insert(burst.end(), report.begin(), report.end());
        }
        platform.scriptedRead = burst;
        const ReadResult result = read(999);
        ASSERT_EQ(result.status, WendrakeOk);
        EXPECT_EQ(result.count, c.expected.size());
        EXPECT_EQ(result.bytes, bytesOf(c.expected));
        ASSERT_EQ(wendrake.Disconnect(), WendrakeOk);
    }
}

TEST_F(CWendrakeTest, ShortInputReportsFromTheAdapterAreClipped) {
    // The adapter sends full 64-byte chunks, the descriptor claims 10-byte input reports.
    platform.SetCapabilities(0, {10, 65, 9});
    connect();
    EXPECT_EQ(wendrake.GetReceiveBufferSize(), 63u * 9);
    const auto data = pattern(64);
    adapter.InjectUartInput(data.data(), data.size());
    const ReadResult result = read();
    ASSERT_EQ(result.status, WendrakeOk);
    EXPECT_EQ(result.bytes, std::vector<std::uint8_t>(data.begin(), data.begin() + 9));
}

TEST_F(CWendrakeTest, ReadUartBufferChecksComeBeforeAnyRead) {
    std::vector<std::uint8_t> destination(63 * 64);
    std::uint16_t count = 999;
    EXPECT_EQ(wendrake.ReadUart(destination.data(), 63 * 64, &count), WendrakeNotConnected);

    connect();
    adapter.InjectUartInput("q");
    const std::uint32_t size = wendrake.GetReceiveBufferSize();
    EXPECT_EQ(wendrake.ReadUart(destination.data(), size - 1, &count), WendrakeBadBuffer);
    EXPECT_EQ(wendrake.ReadUart(nullptr, size, &count), WendrakeBadBuffer);
    EXPECT_EQ(wendrake.ReadUart(destination.data(), size, nullptr), WendrakeBadBuffer);
    EXPECT_EQ(count, 999);
    EXPECT_EQ(platform.reads, 0);

    const ReadResult result = read();
    ASSERT_EQ(result.status, WendrakeOk);
    EXPECT_EQ(result.bytes, bytesOf("q"));
}

TEST_F(CWendrakeTest, FailedReadLeavesTheCountAlone) {
    connect();
    platform.FailNthRead(1);
    const ReadResult result = read(999);
    EXPECT_EQ(result.status, WendrakeCommandFailed);
    EXPECT_EQ(result.count, 999);
}

TEST_F(CWendrakeTest, FlushReceiveReportsDropsWhatIsQueued) {
    connect();
    adapter.InjectUartInput("old");
    EXPECT_EQ(wendrake.FlushReceiveReports(), WendrakeOk);
    adapter.InjectUartInput("new");
    EXPECT_EQ(read().bytes, bytesOf("new"));
}

TEST_F(CWendrakeTest, UnplugDuringPendingRead) {
    connect();
    auto reader = readAsync(999);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    platform.Unplug(adapter);
    ASSERT_EQ(reader.wait_for(Generous), std::future_status::ready);
    const ReadResult pending = reader.get();
    EXPECT_EQ(pending.status, WendrakeOk);
    EXPECT_EQ(pending.count, 0);
    EXPECT_EQ(read(999).status, WendrakeCommandFailed);
    EXPECT_TRUE(wendrake.IsConnected());
}

TEST_F(CWendrakeTest, LoopbackRoundTrip) {
    adapter.SetLoopback(true);
    connect();
    const auto data = pattern(1000);
    ASSERT_EQ(wendrake.WriteUart(data.data(), 1000), WendrakeOk);
    std::vector<std::uint8_t> received;
    while (received.size() < data.size()) {
        const ReadResult result = read();
        ASSERT_EQ(result.status, WendrakeOk);
        received.insert(received.end(), result.bytes.begin(), result.bytes.end());
    }
    EXPECT_EQ(received, data);
}

// --- Stopping the stream from another thread ---------------------------------------------------

TEST_F(CWendrakeTest, StopReadUartWakesABlockedRead) {
    connect();
    auto reader = readAsync(999);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    wendrake.StopReadUart();
    ASSERT_EQ(reader.wait_for(Generous), std::future_status::ready);
    const ReadResult stopped = reader.get();
    EXPECT_EQ(stopped.status, WendrakeCommandFailed);
    EXPECT_EQ(stopped.count, 999);

    // Still stopped: data that arrives now stays queued for after the resume.
    adapter.InjectUartInput("later");
    EXPECT_EQ(read().status, WendrakeCommandFailed);
    wendrake.ResumeReadUart();
    EXPECT_EQ(read().bytes, bytesOf("later"));
}

TEST_F(CWendrakeTest, StopBeforeTheReadStarts) {
    connect();
    adapter.InjectUartInput("kept");
    wendrake.StopReadUart();
    auto reader = readAsync(999);
    ASSERT_EQ(reader.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(reader.get().status, WendrakeCommandFailed);
    EXPECT_EQ(platform.reads, 0);
    wendrake.ResumeReadUart();
    EXPECT_EQ(read().bytes, bytesOf("kept"));
}

TEST_F(CWendrakeTest, DataOfAReadThatRacedTheStopIsDropped) {
    connect();
    adapter.InjectUartInput("raced");
    platform.afterRead = [&] { wendrake.StopReadUart(); };
    const ReadResult result = read(999);
    EXPECT_EQ(result.status, WendrakeCommandFailed);
    EXPECT_EQ(result.count, 999);
}

TEST_F(CWendrakeTest, StopWriteUartEndsAPendingReportUncounted) {
    connect();
    platform.StallWrites(true);
    const auto data = pattern(150);
    std::atomic<std::uint32_t> progress{0};
    auto writer = std::async(std::launch::async,
                             [&] { return wendrake.WriteUart(data.data(), 150, &progress); });
    ASSERT_TRUE(platform.WaitForPendingWrites(1, Generous));
    wendrake.StopWriteUart();
    ASSERT_EQ(writer.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(writer.get(), WendrakeCommandFailed);
    EXPECT_EQ(progress, 0u);
    EXPECT_TRUE(adapter.UartOutput().empty());

    platform.StallWrites(false);
    EXPECT_EQ(wendrake.WriteUart(data.data(), 150, &progress), WendrakeCommandFailed);
    EXPECT_TRUE(outputReports().empty()) << "nothing is sent while stopped";
    wendrake.ResumeWriteUart();
    EXPECT_EQ(wendrake.WriteUart(data.data(), 150, &progress), WendrakeOk);
    EXPECT_EQ(progress, 150u);
    EXPECT_EQ(adapter.UartOutput(), data);
}

TEST_F(CWendrakeTest, StoppedObjectIsUsableAfterTheNextConnect) {
    adapter.SetLoopback(true);
    connect();
    wendrake.StopReadUart();
    wendrake.StopWriteUart();
    ASSERT_EQ(wendrake.Disconnect(), WendrakeOk);

    connect();
    const auto data = pattern(70);
    ASSERT_EQ(wendrake.WriteUart(data.data(), 70), WendrakeOk);
    std::vector<std::uint8_t> received;
    while (received.size() < data.size()) {
        const ReadResult result = read();
        ASSERT_EQ(result.status, WendrakeOk);
        received.insert(received.end(), result.bytes.begin(), result.bytes.end());
    }
    EXPECT_EQ(received, data);
}

} // namespace
