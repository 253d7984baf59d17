#include "emulator/UsbHidAdapter.h"
#include "emulator/AdapterFirmware.h"
#include "emulator/UsbipHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The host side of the link: builds the kernel's commands and splits the device's answers.
class HostLink {
public:
    explicit HostLink(UsbHidAdapter& device) : m_device(device) {}

    struct Reply {
        UsbipHeader header;
        Bytes data;
    };

    std::uint32_t control(const Bytes& setup, const Bytes& outData = {}) {
        UsbipHeader h = base(0, (setup[0] & 0x80) ? UsbipHeader::DirIn : UsbipHeader::DirOut);
        const std::uint16_t wLength = static_cast<std::uint16_t>(setup[6] | setup[7] << 8);
        h.words[1] = wLength;
        std::copy(setup.begin(), setup.end(), h.setup.begin());
        send(h, h.direction == UsbipHeader::DirOut ? outData : Bytes{});
        return h.seqnum;
    }
    std::uint32_t interruptIn(std::uint32_t length = 65) {
        UsbipHeader h = base(1, UsbipHeader::DirIn);
        h.words[1] = length;
        send(h, {});
        return h.seqnum;
    }
    std::uint32_t interruptOut(const Bytes& report) {
        UsbipHeader h = base(1, UsbipHeader::DirOut);
        h.words[1] = static_cast<std::uint32_t>(report.size());
        send(h, report);
        return h.seqnum;
    }
    std::uint32_t unlink(std::uint32_t target) {
        UsbipHeader h = base(0, UsbipHeader::DirOut);
        h.command = UsbipHeader::CmdUnlink;
        h.words[0] = target;
        send(h, {});
        return h.seqnum;
    }
    // Answers so far; IN answers carry their data after the header.
    std::vector<Reply> replies() {
        const Bytes out = m_device.TakeOutput();
        std::vector<Reply> replies;
        for (std::size_t at = 0; at + UsbipHeader::Size <= out.size();) {
            Reply r;
            r.header = *UsbipHeader::parse(out.data() + at, out.size() - at);
            at += UsbipHeader::Size;
            if (r.header.command == UsbipHeader::RetSubmit && m_in.count(r.header.seqnum)) {
                const auto n = static_cast<std::size_t>(r.header.actualLength());
                r.data.assign(out.begin() + static_cast<std::ptrdiff_t>(at),
                              out.begin() + static_cast<std::ptrdiff_t>(at + n));
                at += n;
            }
            replies.push_back(r);
        }
        return replies;
    }
    bool fed = true;

private:
    UsbipHeader base(std::uint32_t ep, std::uint32_t direction) {
        UsbipHeader h;
        h.command = UsbipHeader::CmdSubmit;
        h.seqnum = ++m_seq;
        h.devid = 0x00010002;
        h.direction = direction;
        h.ep = ep;
        if (direction == UsbipHeader::DirIn)
            m_in.insert(h.seqnum);
        return h;
    }
    void send(const UsbipHeader& h, const Bytes& data) {
        const auto header = h.serialize();
        Bytes bytes(header.begin(), header.end());
        bytes.insert(bytes.end(), data.begin(), data.end());
        fed = m_device.Feed(bytes.data(), bytes.size()) && fed;
    }

    UsbHidAdapter& m_device;
    std::uint32_t m_seq = 0;
    std::set<std::uint32_t> m_in;
};

UsbHidAdapter::Identity adapterIdentity() {
    return {0xE7A2, 0x4D15, "Wendrake USB adapter", "WDK-7", AdapterFirmware::ReportDescriptor()};
}

Bytes outputReport(const std::string& text) {
    Bytes report(AdapterFirmware::OutputReportLength, 0);
    report[0] = static_cast<std::uint8_t>(0x80 + text.size());
    std::copy(text.begin(), text.end(), report.begin() + 1);
    return report;
}

TEST(UsbipHeaderTest, ReadsAndWritesTheBigEndianWireLayout) {
    const Bytes wire = {0,    0,    0,    1,    0,    0,    0,    7,   0, 1,
                        0,    2,    0,    0,    0,    1,    0,    0,   0, 0, // basic
                        0,    0,    2,    0,    0,    0,    0,    18,  0, 0,
                        0,    0,    0,    0,    0,    0,    0,    0,   0, 0, // submit words
                        0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};     // setup, as sent
    const auto h = UsbipHeader::parse(wire.data(), wire.size());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command, UsbipHeader::CmdSubmit);
    EXPECT_EQ(h->seqnum, 7u);
    EXPECT_EQ(h->devid, 0x00010002u);
    EXPECT_EQ(h->direction, UsbipHeader::DirIn);
    EXPECT_EQ(h->transferFlags(), 0x200u);
    EXPECT_EQ(h->transferLength(), 18);
    EXPECT_EQ(h->setup[1], 0x06);
    const auto back = h->serialize();
    EXPECT_EQ(Bytes(back.begin(), back.end()), wire);

    const auto ret = UsbipHeader::retSubmit(*h, -32, 0).serialize();
    const Bytes expected = {0, 0, 0, 3, 0,    0,    0,    7,    0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(ret.begin(), ret.end()), expected);

    EXPECT_FALSE(UsbipHeader::parse(wire.data(), 47));
    Bytes unknown = wire;
    unknown[3] = 9;
    EXPECT_FALSE(UsbipHeader::parse(unknown.data(), unknown.size()));
}

TEST(UsbHidAdapterTest, DescriptorsDescribeAFullSpeedHidAdapter) {
    AdapterFirmware firmware;
    UsbHidAdapter device(&firmware, adapterIdentity());
    EXPECT_EQ(device.DeviceDescriptor(), (Bytes{18, 1, 0x10, 0x01, 0, 0, 0, 64, 0xA2, 0xE7, 0x15,
                                                0x4D, 0x03, 0x01, 1, 2, 3, 1}));
    const std::size_t rd = AdapterFirmware::ReportDescriptor().size();
    const Bytes config = {9,
                          2,
                          41,
                          0,
                          1,
                          1,
                          0,
                          0x80,
                          50,
                          9,
                          4,
                          0,
                          0,
                          2,
                          3,
                          0,
                          0,
                          0,
                          9,
                          0x21,
                          0x11,
                          0x01,
                          0,
                          1,
                          0x22,
                          static_cast<std::uint8_t>(rd & 0xFF),
                          static_cast<std::uint8_t>(rd >> 8),
                          7,
                          5,
                          0x81,
                          3,
                          64,
                          0,
                          1,
                          7,
                          5,
                          0x01,
                          3,
                          64,
                          0,
                          1};
    EXPECT_EQ(device.ConfigurationDescriptor(), config);
    EXPECT_EQ(*device.StringDescriptor(3), (Bytes{12, 3, 'W', 0, 'D', 0, 'K', 0, '-', 0, '7', 0}));
    EXPECT_FALSE(device.StringDescriptor(4));
}

TEST(UsbHidAdapterTest, ControlRequestsAnsweredByteForByte) {
    AdapterFirmware firmware;
    firmware.SetVersion(2, 9);
    UsbHidAdapter device(&firmware, adapterIdentity());
    const Bytes report = AdapterFirmware::ReportDescriptor();
    const auto rdLow = static_cast<std::uint8_t>(report.size() & 0xFF);
    const auto rdHigh = static_cast<std::uint8_t>(report.size() >> 8);
    struct Case {
        const char* name;
        Bytes setup;
        Bytes outData;
        std::int32_t status;
        Bytes answer; // IN data; for OUT nothing
    } cases[] = {
        {"device descriptor, first 8 bytes",
         {0x80, 6, 0, 1, 0, 0, 8, 0},
         {},
         0,
         {18, 1, 0x10, 0x01, 0, 0, 0, 64}},
        {"configuration head",
         {0x80, 6, 0, 2, 0, 0, 9, 0},
         {},
         0,
         {9, 2, 41, 0, 1, 1, 0, 0x80, 50}},
        {"languages", {0x80, 6, 0, 3, 0, 0, 0xFF, 0}, {}, 0, {4, 3, 0x09, 0x04}},
        {"no fifth string", {0x80, 6, 5, 3, 0x09, 0x04, 0xFF, 0}, {}, -32, {}},
        {"device qualifier of a full-speed device", {0x80, 6, 0, 6, 0, 0, 10, 0}, {}, -32, {}},
        {"report descriptor", {0x81, 6, 0, 0x22, 0, 0, rdLow, rdHigh}, {}, 0, report},
        {"set configuration", {0x00, 9, 1, 0, 0, 0, 0, 0}, {}, 0, {}},
        {"get configuration", {0x80, 8, 0, 0, 0, 0, 1, 0}, {}, 0, {1}},
        {"set idle", {0x21, 0x0A, 0, 0, 0, 0, 0, 0}, {}, 0, {}},
        {"get feature 0x43", {0xA1, 1, 0x43, 3, 0, 0, 2, 0}, {}, 0, {0x43, 2}},
        {"get feature 0x46, asked longer",
         {0xA1, 1, 0x46, 3, 0, 0, 64, 0},
         {},
         0,
         {0x46, 0x00, 0xC2, 0x01, 0x00, 0, 0, 8, 0}},
        {"get feature 0x44, asked shorter", {0xA1, 1, 0x44, 3, 0, 0, 1, 0}, {}, 0, {0x44}},
        {"get of an input report", {0xA1, 1, 0x81, 1, 0, 0, 65, 0}, {}, -32, {}},
        {"get of a set-only feature", {0xA1, 1, 0x48, 3, 0, 0, 2, 0}, {}, -32, {}},
        {"set feature 0x45 enables the UART", {0x21, 9, 0x45, 3, 0, 0, 2, 0}, {0x45, 1}, 0, {}},
        {"set feature whose data names another id",
         {0x21, 9, 0x45, 3, 0, 0, 2, 0},
         {0x40, 1},
         -32,
         {}},
        {"vendor request", {0xC0, 1, 0, 0, 0, 0, 4, 0}, {}, -32, {}},
    };
    HostLink host(device);
    for (const Case& c : cases) {
        host.control(c.setup, c.outData);
        const auto replies = host.replies();
        ASSERT_EQ(replies.size(), 1u) << c.name;
        EXPECT_EQ(replies[0].header.command, UsbipHeader::RetSubmit) << c.name;
        EXPECT_EQ(replies[0].header.status(), c.status) << c.name;
        EXPECT_EQ(replies[0].data, c.answer) << c.name;
        if (!(c.setup[0] & 0x80) && c.status == 0) {
            EXPECT_EQ(replies[0].header.actualLength(), static_cast<std::int32_t>(c.outData.size()))
                << c.name;
        }
    }
    EXPECT_TRUE(firmware.UartEnabled());
    EXPECT_TRUE(host.fed);
}

TEST(UsbHidAdapterTest, OutputReportsLoopBackThroughTheInEndpoint) {
    AdapterFirmware firmware;
    firmware.SetLoopback(true);
    UsbHidAdapter device(&firmware, adapterIdentity());
    HostLink host(device);
    const std::uint32_t in = host.interruptIn();
    EXPECT_TRUE(host.replies().empty()) << "no input yet: the IN transfer waits";
    const std::uint32_t out = host.interruptOut(outputReport("hi"));
    const auto replies = host.replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].header.seqnum, out);
    EXPECT_EQ(replies[0].header.actualLength(), 65);
    EXPECT_TRUE(replies[0].data.empty());
    EXPECT_EQ(replies[1].header.seqnum, in);
    ASSERT_EQ(replies[1].data.size(), 65u);
    EXPECT_EQ(Bytes(replies[1].data.begin(), replies[1].data.begin() + 3), (Bytes{0x82, 'h', 'i'}));
    EXPECT_FALSE(device.InputDelivered()) << "the host has not asked for the next report yet";
    host.interruptIn();
    EXPECT_TRUE(device.InputDelivered());
}

TEST(UsbHidAdapterTest, HeldOutputIsNeverAnsweredOnceUnlinked) {
    AdapterFirmware firmware;
    UsbHidAdapter device(&firmware, adapterIdentity());
    HostLink host(device);
    device.SetHoldOutput(true);
    const std::uint32_t first = host.interruptOut(outputReport("a"));
    const std::uint32_t second = host.interruptOut(outputReport("b"));
    EXPECT_TRUE(host.replies().empty());
    EXPECT_EQ(device.HeldOutTransfers(), 2u);

    // The host gives up on the first (its time-out): unlinked, never answered afterwards.
    const std::uint32_t unlink = host.unlink(first);
    auto replies = host.replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header.command, UsbipHeader::RetUnlink);
    EXPECT_EQ(replies[0].header.seqnum, unlink);
    EXPECT_EQ(replies[0].header.status(), UsbHidAdapter::StatusUnlinked);

    device.SetHoldOutput(false);
    replies = host.replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header.seqnum, second);
    EXPECT_EQ(firmware.UartOutput(), (Bytes{'b'}));

    // Unlinking what was answered already: status 0, the host keeps its answer.
    host.unlink(second);
    replies = host.replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header.status(), 0);
}

TEST(UsbHidAdapterTest, MutedAndFailedFeatureRequests) {
    AdapterFirmware firmware;
    UsbHidAdapter device(&firmware, adapterIdentity());
    HostLink host(device);
    device.MuteFeature(0x42, 1);
    device.FailFeature(0x4A, 1);
    const std::uint32_t muted = host.control({0xA1, 1, 0x42, 3, 0, 0, 2, 0});
    EXPECT_TRUE(host.replies().empty());
    host.control({0xA1, 1, 0x42, 3, 0, 0, 2, 0});
    auto replies = host.replies();
    ASSERT_EQ(replies.size(), 1u) << "only the next request is muted";
    EXPECT_EQ(replies[0].data, (Bytes{0x42, 0}));
    host.unlink(muted);
    replies = host.replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header.status(), UsbHidAdapter::StatusUnlinked);

    host.control({0xA1, 1, 0x4A, 3, 0, 0, 2, 0});
    host.control({0xA1, 1, 0x4A, 3, 0, 0, 2, 0});
    replies = host.replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].header.status(), UsbHidAdapter::StatusStall);
    EXPECT_EQ(replies[1].data, (Bytes{0x4A, 0x07}));
}

TEST(UsbHidAdapterTest, StreamFramingAndBrokenInput) {
    AdapterFirmware firmware;
    UsbHidAdapter device(&firmware, adapterIdentity());
    // A SET_REPORT whose header and data arrive in three pieces.
    UsbipHeader h;
    h.command = UsbipHeader::CmdSubmit;
    h.seqnum = 1;
    h.direction = UsbipHeader::DirOut;
    h.words[1] = 2;
    h.setup = {0x21, 9, 0x45, 3, 0, 0, 2, 0};
    const auto header = h.serialize();
    Bytes bytes(header.begin(), header.end());
    bytes.push_back(0x45);
    bytes.push_back(0x01);
    EXPECT_TRUE(device.Feed(bytes.data(), 30));
    EXPECT_TRUE(device.Feed(bytes.data() + 30, 19));
    EXPECT_TRUE(device.TakeOutput().empty()) << "one data byte still missing";
    EXPECT_TRUE(device.Feed(bytes.data() + 49, 1));
    EXPECT_EQ(device.TakeOutput().size(), UsbipHeader::Size);
    EXPECT_TRUE(firmware.UartEnabled());

    // An answer sent to the device ends the stream, and nothing more is taken.
    const auto ret = UsbipHeader::retSubmit(h, 0, 0).serialize();
    EXPECT_FALSE(device.Feed(ret.data(), ret.size()));
    EXPECT_TRUE(device.Broken());
    EXPECT_FALSE(device.Feed(bytes.data(), bytes.size()));

    UsbHidAdapter other(&firmware, adapterIdentity());
    h.words[1] = 0x7FFFFFFF; // an OUT length no transfer has
    const auto huge = h.serialize();
    EXPECT_FALSE(other.Feed(huge.data(), huge.size()));
}

TEST(UsbHidAdapterTest, WithoutFirmwareOnlyDescriptorsAreAnswered) {
    UsbHidAdapter device(nullptr, {0x1234, 0x5678, "other", "x", {0x06, 0x00, 0xFF}});
    HostLink host(device);
    host.control({0xA1, 1, 0x42, 3, 0, 0, 2, 0});
    host.interruptOut(outputReport("a"));
    host.control({0x81, 6, 0, 0x22, 0, 0, 3, 0});
    const auto replies = host.replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].header.status(), UsbHidAdapter::StatusStall);
    EXPECT_EQ(replies[1].header.status(), UsbHidAdapter::StatusStall);
    EXPECT_EQ(replies[2].data, (Bytes{0x06, 0x00, 0xFF}));
}

} // namespace
