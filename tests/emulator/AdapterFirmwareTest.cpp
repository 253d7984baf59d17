#include "emulator/AdapterFirmware.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes get(AdapterFirmware& fw, std::uint8_t id, std::size_t length) {
    Bytes buffer(length, 0xEE);
    buffer[0] = id;
    if (!fw.GetFeature(buffer.data(), buffer.size()))
        return {};
    return buffer;
}

bool set(AdapterFirmware& fw, Bytes report) {
    return fw.SetFeature(report.data(), report.size());
}

Bytes outputReport(const std::string& data) {
    Bytes report(AdapterFirmware::OutputReportLength, 0);
    report[0] = static_cast<std::uint8_t>(0x80 + data.size());
    std::copy(data.begin(), data.end(), report.begin() + 1);
    return report;
}

std::vector<Bytes> takeAll(AdapterFirmware& fw) {
    std::vector<Bytes> reports;
    Bytes slot(AdapterFirmware::InputReportLength);
    while (fw.TakeInputReport(slot.data(), slot.size()))
        reports.push_back(slot);
    return reports;
}

// Walks a report descriptor by the HID item rules and sums the bits of every main item per
// report kind and id; answers the largest report of each kind in bytes, id byte included.
struct DescriptorSizes {
    bool wellFormed = true;
    std::size_t input = 0, output = 0, feature = 0;
    std::map<std::uint8_t, std::size_t> featureBits;
};

DescriptorSizes walk(const Bytes& d) {
    DescriptorSizes out;
    std::map<std::uint8_t, std::size_t> bits[3];
    std::uint32_t reportSize = 0, reportCount = 0;
    std::uint8_t reportId = 0;
    int depth = 0;
    for (std::size_t i = 0; i < d.size();) {
        const std::uint8_t prefix = d[i];
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > d.size()) {
            out.wellFormed = false;
            break;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < size; ++k)
            value |= static_cast<std::uint32_t>(d[i + 1 + k]) << (8 * k);
        switch (prefix & 0xFC) {
        case 0x74:
            reportSize = value;
            break;
        case 0x94:
            reportCount = value;
            break;
        case 0x84:
            reportId = static_cast<std::uint8_t>(value);
            break;
        case 0x80:
            bits[0][reportId] += reportSize * reportCount;
            break;
        case 0x90:
            bits[1][reportId] += reportSize * reportCount;
            break;
        case 0xB0:
            bits[2][reportId] += reportSize * reportCount;
            break;
        case 0xA0:
            ++depth;
            break;
        case 0xC0:
            --depth;
            break;
        default:
            break;
        }
        i += 1 + size;
    }
    out.wellFormed = out.wellFormed && depth == 0;
    std::size_t* largest[3] = {&out.input, &out.output, &out.feature};
    for (int kind = 0; kind < 3; ++kind)
        for (const auto& [id, total] : bits[kind])
            *largest[kind] = std::max(*largest[kind], (total + 7) / 8 + (id != 0 ? 1 : 0));
    out.featureBits = bits[2];
    return out;
}

} // namespace

TEST(AdapterFirmwareTest, DescriptorDeclaresTheReportLengths) {
    const DescriptorSizes sizes = walk(AdapterFirmware::ReportDescriptor());
    EXPECT_TRUE(sizes.wellFormed);
    EXPECT_EQ(sizes.input, 65u);
    EXPECT_EQ(sizes.output, 65u);
    EXPECT_EQ(sizes.feature, 9u);
    ASSERT_EQ(sizes.featureBits.size(), 12u);
    for (const auto& [id, bits] : sizes.featureBits)
        EXPECT_EQ(bits / 8 + 1, AdapterFirmware::FeatureLength(id)) << "report " << int(id);
    // A vendor-defined page, as the first item.
    const Bytes d = AdapterFirmware::ReportDescriptor();
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 3), (Bytes{0x06, 0x00, 0xFF}));
    EXPECT_LE(d.size(), 4096u); // the kernel's descriptor limit
}

TEST(AdapterFirmwareTest, FeatureLengthsFollowTheCommandTable) {
    const std::map<std::uint8_t, std::size_t> expected = {
        {0x3F, 0}, {0x40, 2}, {0x41, 2}, {0x42, 2}, {0x43, 2}, {0x44, 2}, {0x45, 2},
        {0x46, 9}, {0x47, 5}, {0x48, 2}, {0x49, 5}, {0x4A, 2}, {0x4B, 3}, {0x4C, 0}};
    for (const auto& [id, length] : expected)
        EXPECT_EQ(AdapterFirmware::FeatureLength(id), length) << "report " << int(id);
}

TEST(AdapterFirmwareTest, AnswersVersionFifoAndPinConfig) {
    AdapterFirmware fw;
    EXPECT_EQ(get(fw, 0x43, 2), (Bytes{0x43, 1}));
    EXPECT_EQ(get(fw, 0x44, 2), (Bytes{0x44, 3}));
    fw.SetVersion(2, 7);
    EXPECT_EQ(get(fw, 0x43, 2), (Bytes{0x43, 2}));
    EXPECT_EQ(get(fw, 0x44, 2), (Bytes{0x44, 7}));

    fw.SetFifoCounts(258, 16); // big-endian on the wire, TX first
    EXPECT_EQ(get(fw, 0x47, 5), (Bytes{0x47, 0x01, 0x02, 0x00, 0x10}));

    EXPECT_TRUE(set(fw, {0x49, 2, 3, 1, 1}));
    EXPECT_EQ(fw.Pins(), (AdapterFirmware::PinSettings{2, 3, 1, 1}));
    EXPECT_EQ(get(fw, 0x49, 5), (Bytes{0x49, 2, 3, 1, 1}));
}

TEST(AdapterFirmwareTest, UartConfigRoundTripsWithLittleEndianBaud) {
    AdapterFirmware fw;
    // Default 115200 8N1, no flow control.
    EXPECT_EQ(get(fw, 0x46, 9), (Bytes{0x46, 0x00, 0xC2, 0x01, 0x00, 0, 0, 8, 0}));
    EXPECT_TRUE(set(fw, {0x46, 0x80, 0x25, 0x00, 0x00, 2, 1, 7, 1}));
    EXPECT_EQ(fw.Uart(), (AdapterFirmware::UartSettings{9600, 2, 1, 7, 1}));
    EXPECT_EQ(get(fw, 0x46, 9), (Bytes{0x46, 0x80, 0x25, 0x00, 0x00, 2, 1, 7, 1}));
    fw.SetUart({0x12345678, 0, 0, 8, 0});
    EXPECT_EQ(get(fw, 0x46, 9), (Bytes{0x46, 0x78, 0x56, 0x34, 0x12, 0, 0, 8, 0}));
}

TEST(AdapterFirmwareTest, LatchWritesOnlyMaskedPins) {
    struct Case {
        std::uint8_t start, values, mask, expected;
    };
    const Case cases[] = {
        {0x07, 0xFB, 0x04, 0x03}, // Q3 Reset low, nothing else
        {0x03, 0x04, 0x04, 0x07}, // Q3 Reset high again
        {0x00, 0xFF, 0x18, 0x18}, // Suspend and VPPCTL only
        {0x1F, 0x00, 0x00, 0x1F}, // empty mask writes nothing
        {0x15, 0x0A, 0x03, 0x16}, // GPIO0 low, GPIO1 high
    };
    for (const Case& c : cases) {
        AdapterFirmware fw;
        fw.SetLatch(c.start);
        EXPECT_TRUE(set(fw, {0x4B, c.values, c.mask}));
        EXPECT_EQ(fw.Latch(), c.expected) << int(c.values) << "/" << int(c.mask);
        EXPECT_EQ(get(fw, 0x4A, 2), (Bytes{0x4A, c.expected}));
    }
}

TEST(AdapterFirmwareTest, DrivenInputLevelsOverrideTheLatch) {
    AdapterFirmware fw;
    fw.SetLatch(0x00);
    fw.SetInputLevels(0x08, 0x08); // Suspend held high from outside
    EXPECT_EQ(get(fw, 0x4A, 2), (Bytes{0x4A, 0x08}));
    EXPECT_TRUE(set(fw, {0x4B, 0x00, 0x0C})); // writing Suspend low does not win
    EXPECT_EQ(fw.PinLevels(), 0x08);
    EXPECT_TRUE(set(fw, {0x4B, 0x04, 0x04}));
    EXPECT_EQ(fw.PinLevels(), 0x0C);
    fw.SetInputLevels(0x00, 0x08);
    EXPECT_EQ(fw.PinLevels(), 0x04);
}

TEST(AdapterFirmwareTest, PurgeCodesClearTheirFifos) {
    struct Case {
        std::uint8_t code;
        bool accepted;
        std::uint16_t tx, rx;
    };
    const Case cases[] = {{0, true, 0, 20}, {1, true, 10, 0}, {2, true, 0, 0}, {3, false, 10, 20}};
    for (const Case& c : cases) {
        AdapterFirmware fw;
        fw.SetFifoCounts(10, 20);
        EXPECT_EQ(set(fw, {0x48, c.code}), c.accepted) << int(c.code);
        EXPECT_EQ(fw.TxFifoCount(), c.tx) << int(c.code);
        EXPECT_EQ(fw.RxFifoCount(), c.rx) << int(c.code);
        EXPECT_EQ(fw.PurgeCodes(), c.accepted ? Bytes{c.code} : Bytes{});
    }
}

TEST(AdapterFirmwareTest, PurgingTheReceiveFifoDropsInputNotYetSent) {
    AdapterFirmware fw;
    fw.InjectUartInput("abc");
    EXPECT_TRUE(set(fw, {0x48, 0}));
    EXPECT_EQ(fw.PendingInputReports(), 1u);
    EXPECT_TRUE(set(fw, {0x48, 2}));
    EXPECT_EQ(fw.PendingInputReports(), 0u);
}

TEST(AdapterFirmwareTest, DefaultModeMachineFollowsTheHandshakes) {
    AdapterFirmware fw;
    // Connect: SetMode(2), GetMode -> 0, ConfirmMode, GetMode -> 1.
    EXPECT_TRUE(set(fw, {0x40, 2}));
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 0}));
    EXPECT_TRUE(set(fw, {0x41, 0}));
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 1}));
    // Disconnect: SetMode(2), GetMode -> 0.
    EXPECT_TRUE(set(fw, {0x40, 2}));
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 0}));
    // Handing the adapter back.
    EXPECT_TRUE(set(fw, {0x40, 1}));
    EXPECT_EQ(fw.ModeState(), AdapterFirmware::ModeConnected);
}

TEST(AdapterFirmwareTest, ScriptedModeAnswersComeFirstThenTheMachine) {
    AdapterFirmware fw;
    fw.QueueModeAnswers({1, 2});
    fw.QueueModeAnswer(0);
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 1}));
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 2}));
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 0}));
    fw.SetModeState(1);
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 1}));
    fw.QueueModeAnswers({5});
    fw.ClearModeAnswers();
    EXPECT_EQ(get(fw, 0x42, 2), (Bytes{0x42, 1}));
}

TEST(AdapterFirmwareTest, RefusesMalformedFeatureRequests) {
    struct Case {
        const char* what;
        bool isGet;
        Bytes report;
    };
    const std::vector<Case> cases = {
        {"unknown id", false, {0x4C, 0}},
        {"unknown get", true, {0x3F, 0}},
        {"get of a set-only id", true, {0x40, 0}},
        {"set of a get-only id", false, {0x47, 0, 0, 0, 0}},
        {"short get", true, {0x46, 0, 0, 0, 0}},
        {"long get", true, Bytes(10, 0x46)},
        {"short set", false, {0x4B, 0xFF}},
        {"long set", false, {0x40, 2, 0}},
        {"mode 0", false, {0x40, 0}},
        {"mode 3", false, {0x40, 3}},
        {"confirm with 1", false, {0x41, 1}},
        {"enable 2", false, {0x45, 2}},
    };
    for (const Case& c : cases) {
        AdapterFirmware fw;
        Bytes report = c.report;
        const bool ok = c.isGet ? fw.GetFeature(report.data(), report.size())
                                : fw.SetFeature(report.data(), report.size());
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(fw.ModeState(), 0) << c.what;
        EXPECT_FALSE(fw.UartEnabled()) << c.what;
        EXPECT_EQ(fw.Latch(), 0x07) << c.what;
    }
}

TEST(AdapterFirmwareTest, UartEnableFlagFollowsReport45) {
    AdapterFirmware fw;
    EXPECT_TRUE(set(fw, {0x45, 1}));
    EXPECT_TRUE(fw.UartEnabled());
    EXPECT_TRUE(set(fw, {0x45, 0}));
    EXPECT_FALSE(fw.UartEnabled());
}

TEST(AdapterFirmwareTest, OutputGoesOutOfTheUartOrLoopsBack) {
    AdapterFirmware fw;
    EXPECT_EQ(fw.WriteOutputReport(outputReport("abc").data(), 65), 0u);
    EXPECT_EQ(fw.UartOutput(), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(fw.PendingInputReports(), 0u);

    fw.SetLoopback(true);
    EXPECT_EQ(fw.WriteOutputReport(outputReport("xy").data(), 65), 1u);
    const auto reports = takeAll(fw);
    ASSERT_EQ(reports.size(), 1u);
    Bytes expected(65, 0);
    expected[0] = 0x82;
    expected[1] = 'x';
    expected[2] = 'y';
    EXPECT_EQ(reports[0], expected); // full length, zero padded
    EXPECT_EQ(fw.UartOutput(), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(fw.UartBytesOut(), 5u);
    EXPECT_EQ(fw.UartBytesIn(), 2u);
}

TEST(AdapterFirmwareTest, IgnoresMalformedOutputReports) {
    AdapterFirmware fw;
    fw.SetLoopback(true);
    const std::vector<Bytes> reports = {
        Bytes(65, 0x00), Bytes(65, 0x80),      Bytes(65, 0xC1),
        Bytes(65, 0xFF), Bytes{0x85, 1, 2, 3}, // claims 5 bytes in a 4-byte report
    };
    for (const Bytes& r : reports)
        EXPECT_EQ(fw.WriteOutputReport(r.data(), r.size()), 0u);
    EXPECT_EQ(fw.IgnoredOutputReports(), reports.size());
    EXPECT_EQ(fw.PendingInputReports(), 0u);
    EXPECT_EQ(fw.UartBytesOut(), 0u);
}

TEST(AdapterFirmwareTest, InjectedBytesBecomeChunksOfUpTo64) {
    AdapterFirmware fw;
    std::string data;
    for (int i = 0; i < 150; ++i)
        data.push_back(static_cast<char>(i));
    fw.InjectUartInput(data);
    const auto reports = takeAll(fw);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0][0], 0xC0);
    EXPECT_EQ(reports[1][0], 0xC0);
    EXPECT_EQ(reports[2][0], 0x96);
    std::string joined;
    for (const Bytes& r : reports)
        joined.append(r.begin() + 1, r.begin() + 1 + (r[0] - 0x80));
    EXPECT_EQ(joined, data);
    EXPECT_EQ(reports[2][23], 0); // padding after the 22 bytes
}

TEST(AdapterFirmwareTest, TakeInputReportPadsOrCutsToTheSlot) {
    AdapterFirmware fw;
    fw.InjectUartInput(std::string(64, 'z'));
    fw.InjectUartInput("q");
    Bytes wide(70, 0xEE);
    ASSERT_TRUE(fw.TakeInputReport(wide.data(), wide.size()));
    EXPECT_EQ(wide[0], 0xC0);
    EXPECT_EQ(wide[64], 'z');
    EXPECT_EQ(Bytes(wide.begin() + 65, wide.end()), Bytes(5, 0));
    Bytes narrow(4, 0xEE);
    ASSERT_TRUE(fw.TakeInputReport(narrow.data(), narrow.size()));
    EXPECT_EQ(narrow, (Bytes{0x81, 'q', 0, 0}));
    EXPECT_FALSE(fw.TakeInputReport(narrow.data(), narrow.size()));
}

TEST(AdapterFirmwareTest, SourceIsPulledOnlyForTheReportsAsked) {
    AdapterFirmware fw;
    EXPECT_EQ(fw.PullFromSource(5), 0u); // no source
    std::uint8_t next = 0;
    std::size_t budget = 100;
    fw.SetUartSource([&](std::uint8_t* out, std::size_t capacity) {
        const std::size_t n = std::min(capacity, budget);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = next++;
        budget -= n;
        return n;
    });
    EXPECT_EQ(fw.PullFromSource(1), 1u);
    EXPECT_EQ(fw.PendingInputReports(), 1u);
    EXPECT_EQ(fw.PullFromSource(10), 1u); // 36 bytes left, then the source runs dry
    const auto reports = takeAll(fw);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][0], 0xC0);
    EXPECT_EQ(reports[1][0], 0x80 + 36);
    EXPECT_EQ(reports[1][1], 64);
}

TEST(AdapterFirmwareTest, ListenerHearsInjectedInputOnly) {
    AdapterFirmware fw;
    int calls = 0;
    fw.SetInputListener([&] { ++calls; });
    fw.SetLoopback(true);
    fw.WriteOutputReport(outputReport("a").data(), 65);
    EXPECT_EQ(calls, 0);
    fw.InjectUartInput("b");
    EXPECT_EQ(calls, 1);
}

TEST(AdapterFirmwareTest, PowerCycleResetsTheVolatileState) {
    AdapterFirmware fw;
    fw.SetModeState(1);
    fw.SetUartEnabled(true);
    fw.InjectUartInput("x");
    fw.SetUart({9600, 1, 0, 7, 0});
    fw.PowerCycle();
    EXPECT_EQ(fw.ModeState(), 0);
    EXPECT_FALSE(fw.UartEnabled());
    EXPECT_EQ(fw.PendingInputReports(), 0u);
    EXPECT_EQ(fw.Uart().BaudRate, 9600u);
}

TEST(AdapterFirmwareTest, ReportQueueKeepsOrderWhileGrowingAcrossTheWrap) {
    AdapterFirmware::ReportQueue queue(4);
    std::uint8_t report[3] = {0x82, 0, 0};
    unsigned pushed = 0, popped = 0;
    // Wrap the ring first, then force it to grow with the head in the middle.
    for (int i = 0; i < 3; ++i) {
        report[1] = static_cast<std::uint8_t>(pushed++);
        queue.push(report, sizeof report);
    }
    for (int i = 0; i < 2; ++i, ++popped)
        queue.pop();
    for (int i = 0; i < 20; ++i) {
        report[1] = static_cast<std::uint8_t>(pushed++);
        queue.push(report, sizeof report);
    }
    EXPECT_EQ(queue.size(), pushed - popped);
    while (!queue.empty()) {
        EXPECT_EQ(queue.front()[1], popped++);
        EXPECT_EQ(queue.front()[64], 0);
        queue.pop();
    }
    EXPECT_EQ(popped, pushed);
}
