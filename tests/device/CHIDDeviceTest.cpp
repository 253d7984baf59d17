#include "device/CHIDDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <vector>

// CHIDDevice against a scripted platform: the walk, the lengths and the buffer counts depend on
// platform answers (OS version, driver counts, long paths, 70 interfaces) that a test has to
// choose freely.

namespace {

struct FakeInterface {
    std::string path;
    std::uint16_t vendor = WendrakeVendorId;
    std::uint16_t product = WendrakeProductId;
    std::u16string serial = u"SN";
    HidCaps caps{65, 65, 9};
    bool openElsewhere = false;
    bool attributesFail = false;
    bool capsFail = false;
    bool serialFails = false;
    std::uint32_t driverCount = 63;
};

class FakeHidPlatform : public HidPlatform {
public:
    std::vector<FakeInterface> interfaces;
    OsVersion version;
    std::vector<unsigned> pathQueries;
    std::vector<std::string> opened;
    std::set<HidHandle> openHandles;
    std::vector<std::uint32_t> setCounts;
    std::vector<std::vector<std::uint8_t>> featuresSet;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<std::uint32_t> writeTimeouts;
    std::deque<TransferOutcome> writeOutcomes;
    std::vector<std::size_t> readLengths;
    std::deque<std::vector<std::uint8_t>> readData;
    TransferOutcome readOutcome = TransferOutcome::Completed;
    bool featureFails = false;
    bool flushAnswer = true;
    std::vector<std::pair<HidHandle, TransferKind>> cancels;
    std::vector<std::pair<HidHandle, TransferKind>> cancelResets;

    void addAdapters(int count) {
        for (int i = 0; i < count; ++i)
            interfaces.push_back({"/dev/hidraw" + std::to_string(interfaces.size())});
    }

    std::optional<std::string> interfacePath(unsigned index) override {
        pathQueries.push_back(index);
        if (index >= interfaces.size())
            return std::nullopt;
        return interfaces[index].path;
    }
    HidHandle openExclusive(const std::string& path) override {
        opened.push_back(path);
        for (std::size_t i = 0; i < interfaces.size(); ++i) {
            if (interfaces[i].path != path || interfaces[i].openElsewhere)
                continue;
            const HidHandle handle = static_cast<HidHandle>(100 + i);
            if (openHandles.count(handle))
                return InvalidHidHandle;
            openHandles.insert(handle);
            return handle;
        }
        return InvalidHidHandle;
    }
    void close(HidHandle handle) override {
        EXPECT_EQ(openHandles.erase(handle), 1u) << "closed a handle that was not open";
    }
    FakeInterface& of(HidHandle handle) {
        return interfaces.at(static_cast<std::size_t>(handle - 100));
    }
    bool attributes(HidHandle handle, HidAttributes& out) override {
        if (of(handle).attributesFail)
            return false;
        out = {of(handle).vendor, of(handle).product};
        return true;
    }
    bool serialString(HidHandle handle, char16_t* buffer, std::size_t units) override {
        const FakeInterface& iface = of(handle);
        if (iface.serialFails)
            return false;
        const std::size_t n = std::min(iface.serial.size(), units);
        std::copy_n(iface.serial.data(), n, buffer);
        if (n < units)
            buffer[n] = u'\0';
        return true;
    }
    bool capabilities(HidHandle handle, HidCaps& out) override {
        if (of(handle).capsFail)
            return false;
        out = of(handle).caps;
        return true;
    }
    bool setInputBufferCount(HidHandle, std::uint32_t count) override {
        setCounts.push_back(count);
        return true;
    }
    bool inputBufferCount(HidHandle handle, std::uint32_t& out) override {
        out = of(handle).driverCount;
        return true;
    }
    bool getFeature(HidHandle, std::uint8_t* buffer, std::size_t length) override {
        if (featureFails)
            return false;
        // Answer with a recognisable pattern after the id.
        for (std::size_t i = 1; i < length; ++i)
            buffer[i] = static_cast<std::uint8_t>(0xA0 + i);
        return true;
    }
    bool setFeature(HidHandle, const std::uint8_t* buffer, std::size_t length) override {
        if (featureFails)
            return false;
        featuresSet.emplace_back(buffer, buffer + length);
        return true;
    }
    TransferOutcome writeReport(HidHandle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override {
        writes.emplace_back(data, data + length);
        writeTimeouts.push_back(timeoutMs);
        if (writeOutcomes.empty())
            return TransferOutcome::Completed;
        const TransferOutcome outcome = writeOutcomes.front();
        writeOutcomes.pop_front();
        return outcome;
    }
    TransferOutcome readReports(HidHandle, std::uint8_t* buffer, std::size_t length, std::uint32_t,
                                std::size_t& bytesRead) override {
        readLengths.push_back(length);
        if (readOutcome != TransferOutcome::Completed)
            return readOutcome;
        std::size_t n = 0;
        if (!readData.empty()) {
            n = std::min(length, readData.front().size());
            std::copy_n(readData.front().begin(), n, buffer);
            readData.pop_front();
        }
        bytesRead = n;
        return TransferOutcome::Completed;
    }
    bool flushInput(HidHandle handle) override { return flushAnswer && openHandles.count(handle); }
    void cancel(HidHandle handle, TransferKind kind) override {
        cancels.emplace_back(handle, kind);
    }
    void resetCancel(HidHandle handle, TransferKind kind) override {
        cancelResets.emplace_back(handle, kind);
    }
    OsVersion osVersion() override { return version; }
    bool startNotices(DeviceNoticeHandler) override { return false; }
    void stopNotices() override {}
};

class CHIDDeviceTest : public ::testing::Test {
protected:
    FakeHidPlatform platform;

    HidStatus openFirst(CHIDDevice& device, std::uint16_t requested = 0) {
        return device.OpenDevice(0, WendrakeVendorId, WendrakeProductId, requested);
    }
};

// --- Input-buffer counts -----------------------------------------------------------------------

TEST_F(CHIDDeviceTest, FreshObjectBufferCountFollowsOsVersion) {
    struct Case {
        OsVersion version;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {{2, 5, 0}, 200}, {{2, 5, 1}, 512}, {{2, 5, 2}, 512}, {{2, 6, 1}, 32},
        {{2, 4, 0}, 32},  {{1, 5, 0}, 32},  {{0, 0, 0}, 32},
    };
    for (const Case& c : cases) {
        platform.version = c.version;
        CHIDDevice device(platform);
        EXPECT_EQ(device.InputBufferCount(), c.expected)
            << c.version.PlatformId << " " << c.version.Major << "." << c.version.Minor;
    }
}

TEST_F(CHIDDeviceTest, OpenKeepsDriverCountOrRequestedCount) {
    struct Case {
        OsVersion version;
        std::uint16_t requested;
        std::uint32_t driverCount;
        std::uint16_t expected;
        std::vector<std::uint32_t> setCalls;
    };
    const Case cases[] = {
        // Linux: the driver's count is asked for, even when a count is requested.
        {{0, 0, 0}, 32, 63, 63, {}},
        {{0, 0, 0}, 0, 63, 63, {}},
        // A driver answer beyond 16 bits is clamped rather than wrapped (65536 would become 0).
        {{0, 0, 0}, 32, 70000, 65535, {}},
        {{0, 0, 0}, 32, 0, 32, {}},
        // NT 5.x: the requested count is set and the larger of the two is kept.
        {{2, 5, 1}, 600, 63, 600, {600}},
        {{2, 5, 1}, 100, 63, 512, {100}},
        {{2, 5, 0}, 0, 63, 63, {}},
    };
    for (const Case& c : cases) {
        FakeHidPlatform p;
        p.version = c.version;
        p.addAdapters(1);
        p.interfaces[0].driverCount = c.driverCount;
        CHIDDevice device(p);
        ASSERT_EQ(device.OpenDevice(0, WendrakeVendorId, WendrakeProductId, c.requested), HidOk);
        EXPECT_EQ(device.InputBufferCount(), c.expected) << c.requested << "/" << c.driverCount;
        EXPECT_EQ(p.setCounts, c.setCalls);
    }
}

// --- The match-index walk ----------------------------------------------------------------------

TEST_F(CHIDDeviceTest, AdapterOpenElsewhereTakesNoMatchIndex) {
    platform.addAdapters(2);
    platform.interfaces[0].openElsewhere = true;
    platform.interfaces[0].serial = u"FIRST";
    platform.interfaces[1].serial = u"SECOND";
    CHIDDevice device(platform);

    EXPECT_EQ(device.CountDevices(WendrakeVendorId, WendrakeProductId), 1u);
    std::uint8_t serial[256] = {};
    ASSERT_EQ(device.ReadSerialString(0, WendrakeVendorId, WendrakeProductId, serial, 256), HidOk);
    EXPECT_STREQ(reinterpret_cast<char*>(serial), "SECOND");
    EXPECT_EQ(device.ReadSerialString(1, WendrakeVendorId, WendrakeProductId, serial, 256),
              HidNoDevice);

    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_EQ(platform.openHandles, std::set<HidHandle>{101});
    // Open here, it is no longer counted either.
    EXPECT_EQ(device.CountDevices(WendrakeVendorId, WendrakeProductId), 0u);
}

TEST_F(CHIDDeviceTest, NonMatchingInterfacesAreSkippedAndClosed) {
    platform.interfaces = {
        {"/dev/hidraw0", 0x1234, WendrakeProductId},
        {"/dev/hidraw1", WendrakeVendorId, 0x4D16},
        {"/dev/hidraw2"},
        {"/dev/hidraw3"},
    };
    platform.interfaces[2].attributesFail = true;
    platform.interfaces[3].serial = u"ONLY";
    CHIDDevice device(platform);

    EXPECT_EQ(device.CountDevices(WendrakeVendorId, WendrakeProductId), 1u);
    EXPECT_EQ(device.CountDevices(0x1234, WendrakeProductId), 1u);
    EXPECT_TRUE(platform.openHandles.empty());

    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_EQ(platform.openHandles, std::set<HidHandle>{103});
}

TEST_F(CHIDDeviceTest, WalkStopsAtSixtyFourInterfaces) {
    platform.interfaces.resize(70);
    for (std::size_t i = 0; i < 70; ++i) {
        platform.interfaces[i].path = "/dev/hidraw" + std::to_string(i);
        platform.interfaces[i].vendor = i == 63 || i >= 64 ? WendrakeVendorId : 0x0001;
    }
    CHIDDevice device(platform);

    EXPECT_EQ(device.CountDevices(WendrakeVendorId, WendrakeProductId), 1u);
    EXPECT_LT(*std::max_element(platform.pathQueries.begin(), platform.pathQueries.end()), 64u);
    EXPECT_EQ(device.OpenDevice(1, WendrakeVendorId, WendrakeProductId, 0), HidNoDevice);
    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_EQ(platform.openHandles, std::set<HidHandle>{163});
}

TEST_F(CHIDDeviceTest, PathTooLongForThePathBufferIsSkipped) {
    platform.addAdapters(3);
    platform.interfaces[0].path = "/dev/" + std::string(CHIDDevice::MaxPathLength + 1 - 5, 'x');
    platform.interfaces[1].path = "/dev/" + std::string(CHIDDevice::MaxPathLength - 5, 'y');
    ASSERT_EQ(platform.interfaces[0].path.size(), 260u);
    ASSERT_EQ(platform.interfaces[1].path.size(), 259u);
    CHIDDevice device(platform);

    EXPECT_EQ(device.CountDevices(WendrakeVendorId, WendrakeProductId), 2u);
    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_EQ(platform.openHandles, std::set<HidHandle>{101});
    EXPECT_EQ(
        std::count(platform.opened.begin(), platform.opened.end(), platform.interfaces[0].path), 0);
}

TEST_F(CHIDDeviceTest, OpenOutcomes) {
    {
        CHIDDevice device(platform); // no interfaces at all
        EXPECT_EQ(openFirst(device), HidNoDevice);
        EXPECT_FALSE(device.IsDeviceOpen());
    }
    platform.addAdapters(2);
    {
        CHIDDevice device(platform);
        EXPECT_EQ(device.OpenDevice(2, WendrakeVendorId, WendrakeProductId, 0), HidNoDevice);
        EXPECT_TRUE(platform.openHandles.empty());
        EXPECT_EQ(device.CloseDevice(), HidNotOpen);

        ASSERT_EQ(device.OpenDevice(1, WendrakeVendorId, WendrakeProductId, 0), HidOk);
        EXPECT_EQ(platform.openHandles, std::set<HidHandle>{101});
        const std::size_t opens = platform.opened.size();
        EXPECT_EQ(openFirst(device), HidAlreadyOpen);
        EXPECT_EQ(platform.opened.size(), opens) << "an open object must not touch the platform";
        EXPECT_TRUE(device.IsDeviceOpen());
        EXPECT_EQ(device.InputReportLength(), 65);
        EXPECT_EQ(device.OutputReportLength(), 65);
        EXPECT_EQ(device.FeatureReportLength(), 9);

        EXPECT_EQ(device.CloseDevice(), HidOk);
        EXPECT_TRUE(platform.openHandles.empty());
        EXPECT_FALSE(device.IsDeviceOpen());
        EXPECT_EQ(device.InputReportLength(), 0);
        EXPECT_EQ(device.OutputReportLength(), 0);
        EXPECT_EQ(device.FeatureReportLength(), 0);
        EXPECT_EQ(device.CloseDevice(), HidNotOpen);
    }
}

TEST_F(CHIDDeviceTest, CapabilitiesFailureStillOpensWithLengthsZero) {
    platform.addAdapters(1);
    platform.interfaces[0].capsFail = true;
    CHIDDevice device(platform);
    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_TRUE(device.IsDeviceOpen());
    EXPECT_EQ(device.InputReportLength(), 0);
    EXPECT_EQ(device.OutputReportLength(), 0);
    EXPECT_EQ(device.FeatureReportLength(), 0);
}

TEST_F(CHIDDeviceTest, DestructionClosesTheHandle) {
    platform.addAdapters(1);
    {
        CHIDDevice device(platform);
        ASSERT_EQ(openFirst(device), HidOk);
        EXPECT_EQ(platform.openHandles.size(), 1u);
    }
    EXPECT_TRUE(platform.openHandles.empty());
}

// --- Serial strings ----------------------------------------------------------------------------

TEST_F(CHIDDeviceTest, SerialStringKeepsLowBytes) {
    struct Case {
        std::u16string serial;
        std::size_t length;
        std::vector<std::uint8_t> expected;
    };
    const Case cases[] = {
        {u"AB12", 8, {'A', 'B', '1', '2', 0, 0, 0, 0}},
        // U+0141 keeps its low byte 0x41; no code-page conversion.
        {u"X\u0141Y", 4, {'X', 0x41, 'Y', 0}},
        // U+0100 has a low byte of zero, which ends the text there.
        {u"X\u0100Y", 4, {'X', 0, 'Y', 0}},
        // Only `length` bytes are written.
        {u"ABCDEFGH", 3, {'A', 'B', 'C'}},
    };
    for (const Case& c : cases) {
        FakeHidPlatform p;
        p.addAdapters(1);
        p.interfaces[0].serial = c.serial;
        CHIDDevice device(p);
        std::vector<std::uint8_t> buffer(c.length + 2, 0xEE);
        ASSERT_EQ(device.ReadSerialString(0, WendrakeVendorId, WendrakeProductId, buffer.data(),
                                          c.length),
                  HidOk);
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + c.length), c.expected);
        EXPECT_EQ(buffer[c.length], 0xEE) << "wrote past the given length";
        EXPECT_TRUE(p.openHandles.empty());
    }
}

TEST_F(CHIDDeviceTest, SerialStringFailuresLeaveTheBufferAlone) {
    platform.addAdapters(2);
    platform.interfaces[0].serialFails = true;
    CHIDDevice device(platform);
    std::uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);

    EXPECT_EQ(device.ReadSerialString(0, WendrakeVendorId, WendrakeProductId, buffer, 16),
              HidNoDevice);
    EXPECT_EQ(device.ReadSerialString(5, WendrakeVendorId, WendrakeProductId, buffer, 16),
              HidNoDevice);
    EXPECT_TRUE(
        std::all_of(std::begin(buffer), std::end(buffer), [](auto b) { return b == 0xEE; }));
    // A destination longer than the 256 code units fetched is refused rather than overrun.
    std::uint8_t large[300] = {};
    EXPECT_EQ(device.ReadSerialString(1, WendrakeVendorId, WendrakeProductId, large, 300),
              HidBadBufferSize);
    EXPECT_TRUE(platform.openHandles.empty());
}

TEST_F(CHIDDeviceTest, SerialOfFullBufferStillEndsWithTerminator) {
    platform.addAdapters(1);
    platform.interfaces[0].serial = std::u16string(300, u'Z');
    CHIDDevice device(platform);
    std::uint8_t buffer[256];
    ASSERT_EQ(device.ReadSerialString(0, WendrakeVendorId, WendrakeProductId, buffer, 256), HidOk);
    EXPECT_EQ(buffer[254], 'Z');
    EXPECT_EQ(buffer[255], 0);
}

// --- Transfers ---------------------------------------------------------------------------------

TEST_F(CHIDDeviceTest, InterruptWriteLengthIsJudgedBeforeTheHandle) {
    platform.addAdapters(1);
    CHIDDevice device(platform);
    std::uint8_t report[66] = {0x81, 'a'};

    // Closed: the output length is 0, so any report is too long before "not open" is reached.
    EXPECT_EQ(device.WriteInterruptReport(report, 1), HidBadBufferSize);

    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_EQ(device.WriteInterruptReport(report, 66), HidBadBufferSize);
    EXPECT_EQ(device.WriteInterruptReport(report, 0), HidBadBufferSize);
    EXPECT_TRUE(platform.writes.empty());
    EXPECT_EQ(device.WriteInterruptReport(report, 65), HidOk);
    ASSERT_EQ(platform.writes.size(), 1u);
    EXPECT_EQ(platform.writes[0], std::vector<std::uint8_t>(report, report + 65));
    EXPECT_EQ(platform.writeTimeouts[0], HidInfiniteTimeout);
}

TEST_F(CHIDDeviceTest, InterruptWriteOutcomes) {
    struct Case {
        TransferOutcome outcome;
        HidStatus expected;
        std::uint32_t timeout;
    };
    const Case cases[] = {
        {TransferOutcome::Completed, HidOk, 250},
        {TransferOutcome::TimedOut, HidTimedOut, 10},
        {TransferOutcome::Failed, HidFailed, HidInfiniteTimeout},
    };
    platform.addAdapters(1);
    CHIDDevice device(platform);
    ASSERT_EQ(openFirst(device), HidOk);
    const std::uint8_t report[65] = {0x81, 'z'};
    for (const Case& c : cases) {
        platform.writeOutcomes = {c.outcome};
        EXPECT_EQ(device.WriteInterruptReport(report, 65, c.timeout), c.expected);
        EXPECT_EQ(platform.writeTimeouts.back(), c.timeout);
    }
    // A failed transfer leaves the device open.
    EXPECT_TRUE(device.IsDeviceOpen());
}

TEST_F(CHIDDeviceTest, InterruptReadChecksSizesAndMakesOnePlatformRead) {
    platform.addAdapters(1);
    platform.interfaces[0].driverCount = 4;
    CHIDDevice device(platform);
    std::vector<std::uint8_t> buffer(5 * 65, 0xEE);
    std::size_t bytesRead = 12345;

    // Closed: the kept length is 0, so only the count can be wrong; then "not open".
    EXPECT_EQ(device.ReadInterruptReports(buffer.data(), buffer.size(), 33, bytesRead),
              HidBadBufferSize);
    EXPECT_EQ(device.ReadInterruptReports(buffer.data(), buffer.size(), 2, bytesRead), HidNotOpen);

    ASSERT_EQ(openFirst(device), HidOk);
    ASSERT_EQ(device.InputBufferCount(), 4);
    EXPECT_EQ(device.ReadInterruptReports(buffer.data(), buffer.size(), 5, bytesRead),
              HidBadBufferSize);
    EXPECT_EQ(device.ReadInterruptReports(buffer.data(), 4 * 65 - 1, 4, bytesRead),
              HidBadBufferSize);
    EXPECT_TRUE(platform.readLengths.empty());
    EXPECT_EQ(bytesRead, 12345u);

    std::vector<std::uint8_t> burst(3 * 65, 0);
    burst[0] = 0x81;
    burst[65] = 0x82;
    burst[130] = 0x83;
    platform.readData = {burst};
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_EQ(device.ReadInterruptReports(buffer.data(), buffer.size(), 4, bytesRead), HidOk);
    EXPECT_EQ(platform.readLengths, std::vector<std::size_t>{4 * 65});
    EXPECT_EQ(bytesRead, 3u * 65);
    EXPECT_EQ(buffer[130], 0x83);
    EXPECT_EQ(buffer[4 * 65], 0) << "the whole buffer is cleared before the read";

    // bytesRead is written only on success.
    for (TransferOutcome outcome : {TransferOutcome::Failed, TransferOutcome::TimedOut}) {
        platform.readOutcome = outcome;
        bytesRead = 777;
        EXPECT_NE(device.ReadInterruptReports(buffer.data(), buffer.size(), 4, bytesRead), HidOk);
        EXPECT_EQ(bytesRead, 777u);
    }
    platform.readOutcome = TransferOutcome::TimedOut;
    EXPECT_EQ(device.ReadInterruptReports(buffer.data(), buffer.size(), 4, bytesRead), HidTimedOut);
}

TEST_F(CHIDDeviceTest, FeatureReports) {
    platform.addAdapters(1);
    CHIDDevice device(platform);
    std::uint8_t buffer[9] = {0x46, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(device.ReadFeatureReport(buffer, 9), HidNotOpen);
    EXPECT_EQ(device.WriteFeatureReport(buffer, 9), HidNotOpen);

    ASSERT_EQ(openFirst(device), HidOk);
    ASSERT_EQ(device.WriteFeatureReport(buffer, 3), HidOk);
    EXPECT_EQ(platform.featuresSet.back(), (std::vector<std::uint8_t>{0x46, 1, 2}));

    std::uint8_t answer[6] = {0x47, 9, 9, 9, 9, 0xEE};
    ASSERT_EQ(device.ReadFeatureReport(answer, 5), HidOk);
    EXPECT_EQ(std::vector<std::uint8_t>(answer, answer + 6),
              (std::vector<std::uint8_t>{0x47, 0xA1, 0xA2, 0xA3, 0xA4, 0xEE}));

    platform.featureFails = true;
    EXPECT_EQ(device.ReadFeatureReport(answer, 5), HidFailed);
    EXPECT_EQ(device.WriteFeatureReport(buffer, 9), HidFailed);
    EXPECT_TRUE(device.IsDeviceOpen());
}

TEST_F(CHIDDeviceTest, FlushAndCancelReachTheOpenHandle) {
    platform.addAdapters(1);
    CHIDDevice device(platform);
    EXPECT_FALSE(device.FlushInputQueue());
    device.CancelPendingTransfer(TransferKind::Read);
    EXPECT_TRUE(platform.cancels.empty()) << "no handle to cancel on";

    ASSERT_EQ(openFirst(device), HidOk);
    EXPECT_TRUE(device.FlushInputQueue());
    platform.flushAnswer = false;
    EXPECT_FALSE(device.FlushInputQueue());

    device.CancelPendingTransfer(TransferKind::Read);
    device.CancelPendingTransfer(TransferKind::Write);
    device.ResetCancel(TransferKind::Read);
    using Call = std::pair<HidHandle, TransferKind>;
    EXPECT_EQ(platform.cancels,
              (std::vector<Call>{{100, TransferKind::Read}, {100, TransferKind::Write}}));
    EXPECT_EQ(platform.cancelResets, (std::vector<Call>{{100, TransferKind::Read}}));
}

} // namespace
