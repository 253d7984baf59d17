#include "emulator/EmulatedHidPlatform.h"

#include "device/WendrakeTypes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto Bound = 5s; // generous: only reached when something is broken

Bytes outputReport(const std::string& data) {
    Bytes report(65, 0);
    report[0] = static_cast<std::uint8_t>(0x80 + data.size());
    std::memcpy(report.data() + 1, data.data(), data.size());
    return report;
}

struct ReadResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    std::size_t bytes = 12345; // untouched unless the read completed
    Bytes buffer;
};

class EmulatedHidPlatformTest : public ::testing::Test {
protected:
    HidHandle openAdapter(const AdapterFirmware& adapter) {
        return platform.openExclusive(platform.PathOf(platform.IdOf(adapter)));
    }

    ReadResult read(HidHandle handle, std::size_t slots = 63,
                    std::uint32_t timeoutMs = HidInfiniteTimeout) {
        ReadResult r;
        r.buffer.assign(slots * 65, 0);
        r.outcome =
            platform.readReports(handle, r.buffer.data(), r.buffer.size(), timeoutMs, r.bytes);
        return r;
    }

    std::future<ReadResult> readAsync(HidHandle handle) {
        return std::async(std::launch::async, [this, handle] { return read(handle); });
    }

    TransferOutcome write(HidHandle handle, const std::string& data,
                          std::uint32_t timeoutMs = HidInfiniteTimeout) {
        const Bytes report = outputReport(data);
        return platform.writeReport(handle, report.data(), report.size(), timeoutMs);
    }

    bool setFeature(HidHandle handle, Bytes report) {
        return platform.setFeature(handle, report.data(), report.size());
    }

    Bytes getFeature(HidHandle handle, std::uint8_t id, std::size_t length) {
        Bytes buffer(length, 0);
        buffer[0] = id;
        if (!platform.getFeature(handle, buffer.data(), buffer.size()))
            return {};
        return buffer;
    }

    EmulatedHidPlatform platform;
};

} // namespace

TEST_F(EmulatedHidPlatformTest, EnumeratesAdaptersAmongOtherInterfacesInOrder) {
    const auto mouse = platform.AddOtherDevice(0x046D, 0xC077);
    auto& first = platform.AddAdapter("WDK00001");
    const auto keyboard = platform.AddOtherDevice(0xE7A2, 0x0001); // same vendor, other product
    auto& second = platform.AddAdapter(u"WDK\u0141\u00E9");

    const std::vector<std::string> expected = {
        platform.PathOf(mouse), platform.PathOf(platform.IdOf(first)), platform.PathOf(keyboard),
        platform.PathOf(platform.IdOf(second))};
    for (unsigned i = 0; i < expected.size(); ++i)
        EXPECT_EQ(platform.interfacePath(i), expected[i]) << i;
    EXPECT_EQ(platform.interfacePath(4), std::nullopt);
    EXPECT_EQ(platform.PathOf(platform.IdOf(first)).rfind("\\\\?\\hid#vid_e7a2&pid_4d15#", 0), 0u);

    struct Expect {
        unsigned index;
        std::uint16_t vendor, product;
        std::u16string serial;
    };
    const Expect expects[] = {{1, 0xE7A2, 0x4D15, u"WDK00001"},
                              {2, 0xE7A2, 0x0001, u""},
                              {3, 0xE7A2, 0x4D15, u"WDK\u0141\u00E9"}};
    for (const Expect& e : expects) {
        const HidHandle h = platform.openExclusive(*platform.interfacePath(e.index));
        ASSERT_NE(h, InvalidHidHandle);
        HidAttributes attributes;
        ASSERT_TRUE(platform.attributes(h, attributes));
        EXPECT_EQ(attributes.VendorId, e.vendor);
        EXPECT_EQ(attributes.ProductId, e.product);
        char16_t serial[256] = {};
        ASSERT_TRUE(platform.serialString(h, serial, 256));
        EXPECT_EQ(std::u16string(serial), e.serial);
        platform.close(h);
    }
}

TEST_F(EmulatedHidPlatformTest, SerialStringIsCutToTheBufferWithATerminator) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
    ASSERT_TRUE(platform.serialString(h, buffer, 4));
    EXPECT_EQ(std::u16string(buffer), u"WDK");
    platform.FailSerialString(platform.IdOf(adapter));
    EXPECT_FALSE(platform.serialString(h, buffer, 4));
}

TEST_F(EmulatedHidPlatformTest, OpenIsExclusiveHereAndElsewhere) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const std::string path = platform.PathOf(platform.IdOf(adapter));

    const HidHandle h = platform.openExclusive(path);
    ASSERT_NE(h, InvalidHidHandle);
    EXPECT_NE(h, 0);
    EXPECT_TRUE(platform.IsOpen(platform.IdOf(adapter)));
    EXPECT_EQ(platform.openExclusive(path), InvalidHidHandle);
    platform.close(h);
    EXPECT_FALSE(platform.IsOpen(platform.IdOf(adapter)));

    platform.HoldOpenElsewhere(adapter);
    EXPECT_EQ(platform.openExclusive(path), InvalidHidHandle);
    platform.HoldOpenElsewhere(adapter, false);
    const HidHandle again = platform.openExclusive(path);
    EXPECT_NE(again, InvalidHidHandle);
    EXPECT_NE(again, h); // handles are never reused
    HidAttributes attributes;
    EXPECT_FALSE(platform.attributes(h, attributes)); // the closed handle is gone

    EXPECT_EQ(platform.openExclusive("\\\\?\\hid#nothing"), InvalidHidHandle);
}

TEST_F(EmulatedHidPlatformTest, ConnectHandshakeAndRecordOnTheWire) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    EXPECT_TRUE(setFeature(h, {0x40, 2}));
    EXPECT_EQ(getFeature(h, 0x42, 2), (Bytes{0x42, 0}));
    EXPECT_TRUE(setFeature(h, {0x41, 0}));
    EXPECT_EQ(getFeature(h, 0x42, 2), (Bytes{0x42, 1}));
    EXPECT_FALSE(setFeature(h, {0x40, 3})); // refused by the firmware, still on the wire
    EXPECT_EQ(getFeature(h, 0x46, 9), (Bytes{0x46, 0x00, 0xC2, 0x01, 0x00, 0, 0, 8, 0}));

    EXPECT_EQ(platform.WireSummary(),
              (std::vector<std::string>{"set 40 02", "get 42 00", "set 41 00", "get 42 01",
                                        "set 40 03 (failed)", "get 46 00 c2 01 00 00 00 08 00"}));
    const auto wire = platform.Wire();
    ASSERT_EQ(wire.size(), 6u);
    EXPECT_EQ(wire[5].kind, EmulatedHidPlatform::WireRecord::Kind::FeatureGet);
    EXPECT_EQ(wire[5].reportId, 0x46);
    EXPECT_EQ(wire[5].length, 9u);
    EXPECT_EQ(wire[5].device, platform.IdOf(adapter));
    EXPECT_FALSE(wire[4].succeeded);

    platform.ClearWire();
    EXPECT_TRUE(platform.Wire().empty());
    platform.SetWireRecording(false);
    EXPECT_TRUE(setFeature(h, {0x45, 1}));
    EXPECT_TRUE(platform.Wire().empty());
    EXPECT_TRUE(adapter.UartEnabled());
}

TEST_F(EmulatedHidPlatformTest, LoopbackTurnsOutputIntoInputOnTheWire) {
    auto& adapter = platform.AddAdapter("WDK00001");
    adapter.SetLoopback(true);
    const HidHandle h = openAdapter(adapter);
    ASSERT_EQ(write(h, "abc"), TransferOutcome::Completed);
    ASSERT_EQ(write(h, std::string(64, 'z')), TransferOutcome::Completed);

    const ReadResult r = read(h);
    ASSERT_EQ(r.outcome, TransferOutcome::Completed);
    ASSERT_EQ(r.bytes, 130u);
    EXPECT_EQ(Bytes(r.buffer.begin(), r.buffer.begin() + 5), (Bytes{0x83, 'a', 'b', 'c', 0}));
    EXPECT_EQ(r.buffer[65], 0xC0);
    EXPECT_EQ(r.buffer[129], 'z');

    const auto summary = platform.WireSummary();
    ASSERT_EQ(summary.size(), 4u);
    EXPECT_EQ(summary[0], "out 83 61 62 63");
    EXPECT_EQ(summary[2], "in 83 61 62 63");
    EXPECT_EQ(summary[3].substr(0, 9), "in c0 7a ");
    EXPECT_EQ(platform.Wire()[3].length, 65u);
}

TEST_F(EmulatedHidPlatformTest, WithoutLoopbackOutputLeavesTheUart) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    ASSERT_EQ(write(h, "hello"), TransferOutcome::Completed);
    EXPECT_EQ(adapter.UartOutput(), (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(platform.QueuedInputReports(platform.IdOf(adapter)), 0u);
}

TEST_F(EmulatedHidPlatformTest, ReadTakesOnlyWholeSlotsThatFit) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    for (char c = 'a'; c < 'f'; ++c)
        adapter.InjectUartInput(std::string(1, c));
    const ReadResult r = read(h, 2);
    ASSERT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 130u);
    EXPECT_EQ(r.buffer[1], 'a');
    EXPECT_EQ(r.buffer[66], 'b');
    EXPECT_EQ(platform.QueuedInputReports(platform.IdOf(adapter)), 3u);

    // A buffer too small for one slot fails without taking anything.
    Bytes tiny(64);
    std::size_t bytes = 0;
    EXPECT_EQ(platform.readReports(h, tiny.data(), tiny.size(), HidInfiniteTimeout, bytes),
              TransferOutcome::Failed);
    EXPECT_EQ(platform.QueuedInputReports(platform.IdOf(adapter)), 3u);
}

TEST_F(EmulatedHidPlatformTest, ScriptedInputLengthSetsTheSlotSize) {
    auto& adapter = platform.AddAdapter("WDK00001");
    platform.SetCapabilities(platform.IdOf(adapter), {70, 65, 4});
    const HidHandle h = openAdapter(adapter);
    HidCaps caps;
    ASSERT_TRUE(platform.capabilities(h, caps));
    EXPECT_EQ(caps.InputReportLength, 70);
    EXPECT_EQ(caps.FeatureReportLength, 4);
    adapter.InjectUartInput(std::string(64, 'a') + "b");
    Bytes buffer(140, 0xEE);
    std::size_t bytes = 0;
    ASSERT_EQ(platform.readReports(h, buffer.data(), buffer.size(), HidInfiniteTimeout, bytes),
              TransferOutcome::Completed);
    EXPECT_EQ(bytes, 140u);
    EXPECT_EQ(buffer[70], 0x81);
    EXPECT_EQ(buffer[71], 'b');
    EXPECT_EQ(Bytes(buffer.begin() + 65, buffer.begin() + 70), Bytes(5, 0));

    platform.FailCapabilities(platform.IdOf(adapter));
    EXPECT_FALSE(platform.capabilities(h, caps));
}

TEST_F(EmulatedHidPlatformTest, BlockedReadWakesWhenInputArrives) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    auto pending = readAsync(h);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Bound));
    adapter.InjectUartInput("hi");
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    const ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 65u);
    EXPECT_EQ(Bytes(r.buffer.begin(), r.buffer.begin() + 3), (Bytes{0x82, 'h', 'i'}));
}

TEST_F(EmulatedHidPlatformTest, UnplugCompletesABlockedReadThenEveryCallFails) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    const HidHandle h = openAdapter(adapter);
    auto pending = readAsync(h);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Bound));

    platform.Unplug(adapter);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    const ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 0u);

    const ReadResult later = read(h);
    EXPECT_EQ(later.outcome, TransferOutcome::Failed);
    EXPECT_EQ(later.bytes, 12345u); // left untouched
    EXPECT_EQ(write(h, "x"), TransferOutcome::Failed);
    EXPECT_TRUE(getFeature(h, 0x43, 2).empty());
    EXPECT_FALSE(setFeature(h, {0x45, 1}));
    EXPECT_FALSE(platform.flushInput(h));
    EXPECT_EQ(platform.interfacePath(0), std::nullopt);
    EXPECT_FALSE(platform.IsPlugged(id));
    platform.close(h); // harmless after the unplug
}

// What the handle does after an unplug, one step at a time. Reads never wait (timeout 0), so a
// read that would block shows up as TimedOut instead of hanging the test.
struct AfterUnplugStep {
    enum class Kind { Read, Write, CancelRead, ResetCancelRead };
    Kind kind = Kind::Read;
    TransferOutcome outcome = TransferOutcome::Completed; // for reads and writes
    std::string delivered;                                // for completed reads: one char a slot
};

struct AfterUnplugCase {
    const char* name;
    std::string queued; // one input report per char, queued before the unplug
    std::size_t slots;  // report slots in each read's buffer
    std::vector<AfterUnplugStep> steps;
};

void PrintTo(const AfterUnplugCase& c, std::ostream* os) {
    *os << c.name;
}

class UnplugWithQueuedInput : public EmulatedHidPlatformTest,
                              public ::testing::WithParamInterface<AfterUnplugCase> {};

TEST_P(UnplugWithQueuedInput, HandleAnswersEachStepAfterTheUnplug) {
    const AfterUnplugCase& c = GetParam();
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    for (char ch : c.queued)
        adapter.InjectUartInput(std::string(1, ch));
    ASSERT_EQ(platform.QueuedInputReports(platform.IdOf(adapter)), c.queued.size());
    platform.Unplug(adapter);
    platform.ClearWire();

    std::string allDelivered;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const AfterUnplugStep& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        switch (step.kind) {
        case AfterUnplugStep::Kind::Read: {
            const ReadResult r = read(h, c.slots, 0);
            ASSERT_EQ(r.outcome, step.outcome);
            if (r.outcome != TransferOutcome::Completed) {
                EXPECT_EQ(r.bytes, 12345u); // left untouched
                break;
            }
            ASSERT_EQ(r.bytes, step.delivered.size() * 65);
            for (std::size_t slot = 0; slot < step.delivered.size(); ++slot) {
                EXPECT_EQ(r.buffer[slot * 65], 0x81);
                EXPECT_EQ(r.buffer[slot * 65 + 1], step.delivered[slot]);
            }
            allDelivered += step.delivered;
            break;
        }
        case AfterUnplugStep::Kind::Write:
            EXPECT_EQ(write(h, "x", 0), step.outcome);
            break;
        case AfterUnplugStep::Kind::CancelRead:
            platform.cancel(h, TransferKind::Read);
            break;
        case AfterUnplugStep::Kind::ResetCancelRead:
            platform.resetCancel(h, TransferKind::Read);
            break;
        }
    }
    // Every delivered report is on the wire record, none twice.
    std::vector<std::string> expectedWire;
    for (char ch : allDelivered) {
        char line[16];
        std::snprintf(line, sizeof line, "in 81 %02x", static_cast<unsigned char>(ch));
        expectedWire.push_back(line);
    }
    EXPECT_EQ(platform.WireSummary(), expectedWire);
    EXPECT_EQ(adapter.UartOutput(), Bytes{});
    platform.close(h);
}

namespace {

AfterUnplugStep readGives(std::string delivered) {
    return {AfterUnplugStep::Kind::Read, TransferOutcome::Completed, std::move(delivered)};
}
AfterUnplugStep readFails() {
    return {AfterUnplugStep::Kind::Read, TransferOutcome::Failed, {}};
}
AfterUnplugStep writeFails() {
    return {AfterUnplugStep::Kind::Write, TransferOutcome::Failed, {}};
}
AfterUnplugStep cancelRead() {
    return {AfterUnplugStep::Kind::CancelRead, TransferOutcome::Completed, {}};
}
AfterUnplugStep resetCancelRead() {
    return {AfterUnplugStep::Kind::ResetCancelRead, TransferOutcome::Completed, {}};
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    EmulatedHidPlatformTest, UnplugWithQueuedInput,
    ::testing::Values(
        // No read was waiting at the unplug, so none ends empty: every new read fails at once.
        AfterUnplugCase{"NothingQueued", "", 63, {readFails(), readFails(), readFails()}},
        AfterUnplugCase{"OneQueued", "a", 63, {readGives("a"), readFails()}},
        AfterUnplugCase{"AllInOneRead", "abc", 63, {readGives("abc"), readFails(), readFails()}},
        AfterUnplugCase{"WholeSlotsOverSeveralReads",
                        "abcde",
                        2,
                        {readGives("ab"), readGives("cd"), readGives("e"), readFails()}},
        // As on hidraw, a write that finds the adapter gone leaves the queued reports readable.
        AfterUnplugCase{
            "WriteFailsThenQueueIsRead", "ab", 63, {writeFails(), readGives("ab"), readFails()}},
        AfterUnplugCase{"WriteAfterPartOfTheQueue",
                        "ab",
                        1,
                        {readGives("a"), writeFails(), readGives("b"), readFails()}},
        // A cancel wins over queued reports and over the failure of an emptied queue.
        AfterUnplugCase{"CancelHoldsTheQueuedReports",
                        "ab",
                        63,
                        {cancelRead(), readGives(""), readGives(""), resetCancelRead(),
                         readGives("ab"), cancelRead(), readGives(""), resetCancelRead(),
                         readFails()}}),
    [](const ::testing::TestParamInfo<AfterUnplugCase>& info) { return info.param.name; });

TEST_F(EmulatedHidPlatformTest, InputAfterTheUnplugReachesNobody) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    adapter.InjectUartInput("a");
    platform.Unplug(adapter);
    adapter.InjectUartInput("late");

    const ReadResult queued = read(h, 63, 0);
    ASSERT_EQ(queued.outcome, TransferOutcome::Completed);
    EXPECT_EQ(queued.bytes, 65u);
    EXPECT_EQ(queued.buffer[1], 'a');
    EXPECT_EQ(read(h, 63, 0).outcome, TransferOutcome::Failed);
}

TEST_F(EmulatedHidPlatformTest, UnplugFailsAStalledWrite) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    platform.StallWrites(true);
    auto pending = std::async(std::launch::async, [&] { return write(h, "abc"); });
    ASSERT_TRUE(platform.WaitForPendingWrites(1, Bound));
    platform.Unplug(adapter);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    // The report never left: a failure, as hidraw reports it, not a completion.
    EXPECT_EQ(pending.get(), TransferOutcome::Failed);
    EXPECT_TRUE(adapter.UartOutput().empty());
    EXPECT_EQ(write(h, "abc"), TransferOutcome::Failed);
}

TEST_F(EmulatedHidPlatformTest, ClosingAHandleEndsItsPendingRead) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    auto pending = readAsync(h);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Bound));
    platform.close(h);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    const ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 0u);
}

TEST_F(EmulatedHidPlatformTest, CancelWakesABlockedReadAndSticksUntilReset) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    auto pending = readAsync(h);
    ASSERT_TRUE(platform.WaitForPendingReads(1, Bound));
    platform.cancel(h, TransferKind::Write); // the other kind leaves the read alone
    EXPECT_EQ(pending.wait_for(50ms), std::future_status::timeout);
    platform.cancel(h, TransferKind::Read);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    EXPECT_EQ(pending.get().bytes, 0u);

    // Still cancelled: a read that starts now ends at once, even with input queued.
    adapter.InjectUartInput("q");
    ReadResult r = read(h);
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 0u);

    platform.resetCancel(h, TransferKind::Read);
    r = read(h);
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 65u);
    EXPECT_EQ(r.buffer[1], 'q');
}

TEST_F(EmulatedHidPlatformTest, CancelBeforeTheWriteStartsStillEndsIt) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    platform.StallWrites(true);
    platform.cancel(h, TransferKind::Write);
    EXPECT_EQ(write(h, "abc"), TransferOutcome::Completed); // without waiting, nothing sent
    EXPECT_TRUE(adapter.UartOutput().empty());
    platform.resetCancel(h, TransferKind::Write);
    platform.StallWrites(false);
    EXPECT_EQ(write(h, "abc"), TransferOutcome::Completed);
    EXPECT_EQ(adapter.UartOutput(), (Bytes{'a', 'b', 'c'}));
}

TEST_F(EmulatedHidPlatformTest, StalledWriteGoesThroughWhenReleased) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    platform.StallWrites(true);
    EXPECT_EQ(write(h, "late", 10), TransferOutcome::TimedOut);
    auto pending = std::async(std::launch::async, [&] { return write(h, "ok"); });
    ASSERT_TRUE(platform.WaitForPendingWrites(1, Bound));
    EXPECT_EQ(platform.PendingWrites(), 1u);
    platform.StallWrites(false);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    EXPECT_EQ(pending.get(), TransferOutcome::Completed);
    EXPECT_EQ(adapter.UartOutput(), (Bytes{'o', 'k'}));
}

TEST_F(EmulatedHidPlatformTest, ReadWithAFiniteTimeOutAndNoInputTimesOut) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    const ReadResult r = read(h, 63, 10);
    EXPECT_EQ(r.outcome, TransferOutcome::TimedOut);
    EXPECT_EQ(r.bytes, 12345u);
}

TEST_F(EmulatedHidPlatformTest, InjectedFaultsHitExactlyTheNthTransfer) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);

    platform.FailNthFeatureTransfer(2);
    EXPECT_FALSE(getFeature(h, 0x43, 2).empty());
    EXPECT_FALSE(setFeature(h, {0x45, 1}));
    EXPECT_FALSE(adapter.UartEnabled()); // the failed set never reached the firmware
    EXPECT_TRUE(setFeature(h, {0x45, 1}));

    platform.FailFeatureReportId(0x4A);
    EXPECT_TRUE(getFeature(h, 0x4A, 2).empty());
    EXPECT_FALSE(getFeature(h, 0x43, 2).empty());
    platform.FailFeatureReportId(0x4A, false);
    EXPECT_FALSE(getFeature(h, 0x4A, 2).empty());

    platform.FailNthWrite(2);
    EXPECT_EQ(write(h, "a"), TransferOutcome::Completed);
    EXPECT_EQ(write(h, "b"), TransferOutcome::Failed);
    EXPECT_EQ(write(h, "c"), TransferOutcome::Completed);
    EXPECT_EQ(adapter.UartOutput(), (Bytes{'a', 'c'}));

    adapter.InjectUartInput("x");
    platform.FailNthRead(1);
    EXPECT_EQ(read(h).outcome, TransferOutcome::Failed);
    EXPECT_EQ(read(h).bytes, 65u); // the report waited for the next read

    const auto summary = platform.WireSummary();
    EXPECT_EQ(summary[1], "set 45 01 (failed)");
    EXPECT_EQ(summary[3], "get 4a 00 (failed)");
    EXPECT_EQ(summary[7], "out 81 62 (failed)");

    platform.FailNthWrite(1);
    platform.FailNthRead(1);
    platform.FailNthFeatureTransfer(1);
    platform.ClearFaults();
    EXPECT_EQ(write(h, "d"), TransferOutcome::Completed);
    EXPECT_FALSE(getFeature(h, 0x43, 2).empty());
}

TEST_F(EmulatedHidPlatformTest, FullQueueDropsNewReportsAndCountsThem) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    const HidHandle h = openAdapter(adapter);
    std::uint32_t count = 0;
    ASSERT_TRUE(platform.inputBufferCount(h, count));
    EXPECT_EQ(count, 63u);

    std::string data;
    for (int i = 0; i < 70; ++i)
        data += std::string(64, static_cast<char>(i));
    adapter.InjectUartInput(data);
    EXPECT_EQ(platform.QueuedInputReports(id), 63u);
    EXPECT_EQ(platform.DroppedInputReports(id), 7u);

    const ReadResult r = read(h, 100);
    ASSERT_EQ(r.bytes, 63u * 65u);
    for (std::size_t i = 0; i < 63; ++i)
        EXPECT_EQ(r.buffer[i * 65 + 1], i) << "the oldest reports are kept";
    EXPECT_EQ(platform.QueuedInputReports(id), 0u);
}

TEST_F(EmulatedHidPlatformTest, FlowControlledInputWaitsInsteadOfDropping) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    platform.SetDefaultInputBufferCount(4);
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    const HidHandle h = openAdapter(adapter);
    std::string data;
    for (int i = 0; i < 10; ++i)
        data.push_back(static_cast<char>(i));
    for (char c : data)
        adapter.InjectUartInput(std::string(1, c));
    EXPECT_EQ(platform.QueuedInputReports(id), 4u);

    std::string received;
    while (received.size() < data.size()) {
        const ReadResult r = read(h, 63);
        ASSERT_EQ(r.outcome, TransferOutcome::Completed);
        ASSERT_LE(r.bytes, 4u * 65u);
        for (std::size_t p = 0; p < r.bytes; p += 65)
            received.push_back(static_cast<char>(r.buffer[p + 1]));
    }
    EXPECT_EQ(received, data);
    EXPECT_EQ(platform.DroppedInputReports(id), 0u);
}

TEST_F(EmulatedHidPlatformTest, InputWithNobodyListeningIsLostInDropMode) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    adapter.InjectUartInput("early");
    EXPECT_EQ(platform.DroppedInputReports(id), 1u);
    const HidHandle h = openAdapter(adapter);
    EXPECT_EQ(platform.QueuedInputReports(id), 0u);
    adapter.InjectUartInput("x");
    EXPECT_TRUE(platform.flushInput(h));
    EXPECT_EQ(platform.QueuedInputReports(id), 0u);
}

TEST_F(EmulatedHidPlatformTest, FlowControlledLoopbackLosesNothingBetweenTwoThreads) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    platform.SetWireRecording(false);
    auto& adapter = platform.AddAdapter("WDK00001");
    adapter.SetLoopback(true);
    const HidHandle h = openAdapter(adapter);
    constexpr int Reports = 2000;

    auto writer = std::async(std::launch::async, [&] {
        for (int i = 0; i < Reports; ++i) {
            Bytes report(65, 0);
            report[0] = 0xC0;
            std::memcpy(report.data() + 1, &i, sizeof i);
            if (platform.writeReport(h, report.data(), 65, HidInfiniteTimeout) !=
                TransferOutcome::Completed)
                return false;
        }
        return true;
    });
    int expected = 0;
    Bytes buffer(63 * 65);
    while (expected < Reports) {
        std::size_t bytes = 0;
        ASSERT_EQ(platform.readReports(h, buffer.data(), buffer.size(), 5000, bytes),
                  TransferOutcome::Completed);
        for (std::size_t p = 0; p < bytes; p += 65, ++expected) {
            int value = -1;
            std::memcpy(&value, buffer.data() + p + 1, sizeof value);
            ASSERT_EQ(value, expected);
        }
    }
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(platform.DroppedInputReports(platform.IdOf(adapter)), 0u);
}

TEST_F(EmulatedHidPlatformTest, PacedSourceFillsOnlyTheRoomInTheQueue) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    std::uint64_t produced = 0;
    adapter.SetUartSource([&](std::uint8_t* out, std::size_t capacity) {
        std::memset(out, 'S', capacity);
        produced += capacity;
        return capacity;
    });
    const HidHandle h = openAdapter(adapter);
    const ReadResult r = read(h, 10);
    EXPECT_EQ(r.bytes, 650u);
    EXPECT_EQ(r.buffer[0], 0xC0);
    EXPECT_EQ(platform.QueuedInputReports(id), 63u); // topped up again after the read
    EXPECT_EQ(produced, (10u + 63u) * 64u);
    EXPECT_EQ(platform.DroppedInputReports(id), 0u);
}

TEST_F(EmulatedHidPlatformTest, NoticesFollowPlugAndUnplug) {
    std::vector<DeviceNotice> notices;
    ASSERT_TRUE(platform.startNotices([&](const DeviceNotice& n) { notices.push_back(n); }));
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto other = platform.AddOtherDevice(0x046D, 0xC077);
    const auto id = platform.IdOf(adapter);
    const std::string firstPath = platform.PathOf(id);
    platform.Unplug(adapter);
    platform.Plug(adapter);
    platform.RaiseNotice({0x8001, 2, "anything"});
    platform.Unplug(adapter); // twice: the second is a no-op
    platform.Unplug(adapter);

    ASSERT_EQ(notices.size(), 6u);
    const std::uint32_t events[] = {0x8000, 0x8000, 0x8004, 0x8000, 0x8001, 0x8004};
    for (std::size_t i = 0; i < notices.size(); ++i)
        EXPECT_EQ(notices[i].EventCode, events[i]) << i;
    for (std::size_t i : {0, 1, 2, 3, 5})
        EXPECT_EQ(notices[i].DeviceType, DeviceTypeInterface) << i;
    for (std::size_t i : {0, 2, 3, 5})
        EXPECT_EQ(notices[i].Name.compare(0, 25, AdapterPathPrefix), 0) << notices[i].Name;
    EXPECT_NE(notices[1].Name.compare(0, 25, AdapterPathPrefix), 0);
    EXPECT_EQ(notices[1].Name, platform.NoticeNameOf(other));
    EXPECT_EQ(notices[1].Name.rfind("\\\\?\\HID#Vid_046d&Pid_c077#", 0), 0u);
    EXPECT_EQ(notices[4].Name, "anything");
    EXPECT_NE(platform.PathOf(id), firstPath); // a replug is a new interface

    platform.stopNotices();
    platform.Plug(adapter);
    EXPECT_EQ(notices.size(), 6u);

    platform.SetNoticesAvailable(false);
    EXPECT_FALSE(platform.startNotices([](const DeviceNotice&) {}));
}

TEST_F(EmulatedHidPlatformTest, ReplugPutsTheAdapterLastWithAFreshFirmwareState) {
    auto& adapter = platform.AddAdapter("WDK00001");
    platform.AddAdapter("WDK00002");
    const HidHandle old = openAdapter(adapter);
    ASSERT_TRUE(setFeature(old, {0x45, 1}));
    adapter.SetModeState(1);
    platform.Unplug(adapter);
    platform.Plug(adapter);

    EXPECT_EQ(platform.interfacePath(1), platform.PathOf(platform.IdOf(adapter)));
    EXPECT_FALSE(adapter.UartEnabled());
    EXPECT_EQ(adapter.ModeState(), 0);
    EXPECT_FALSE(setFeature(old, {0x45, 1})); // the old handle stays dead
    const HidHandle fresh = openAdapter(adapter);
    ASSERT_NE(fresh, InvalidHidHandle);
    EXPECT_TRUE(setFeature(fresh, {0x45, 1}));
}

TEST_F(EmulatedHidPlatformTest, OtherDevicesRefuseAdapterTraffic) {
    const auto other = platform.AddOtherDevice(0x1234, 0x5678, u"OTHER");
    const HidHandle h = platform.openExclusive(platform.PathOf(other));
    ASSERT_NE(h, InvalidHidHandle);
    EXPECT_TRUE(getFeature(h, 0x43, 2).empty());
    EXPECT_FALSE(setFeature(h, {0x45, 1}));
    EXPECT_EQ(write(h, "x"), TransferOutcome::Failed);
    EXPECT_THROW(platform.Adapter(other), std::out_of_range);
}

TEST_F(EmulatedHidPlatformTest, BufferCountAttributesAndOsVersionAreScriptable) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const auto id = platform.IdOf(adapter);
    const HidHandle h = openAdapter(adapter);
    std::uint32_t count = 0;
    EXPECT_FALSE(platform.setInputBufferCount(h, 200)); // like hidraw
    platform.SetInputBufferCountSettable(true);
    EXPECT_FALSE(platform.setInputBufferCount(h, 1));
    EXPECT_FALSE(platform.setInputBufferCount(h, 513));
    EXPECT_TRUE(platform.setInputBufferCount(h, 200));
    ASSERT_TRUE(platform.inputBufferCount(h, count));
    EXPECT_EQ(count, 200u);

    platform.FailAttributes(id);
    HidAttributes attributes;
    EXPECT_FALSE(platform.attributes(h, attributes));

    EXPECT_EQ(platform.osVersion().PlatformId, 0u);
    platform.SetOsVersion({2, 5, 1});
    const OsVersion v = platform.osVersion();
    EXPECT_EQ(v.PlatformId, 2u);
    EXPECT_EQ(v.Major, 5u);
    EXPECT_EQ(v.Minor, 1u);
}

TEST_F(EmulatedHidPlatformTest, WriteLongerThanTheOutputReportFails) {
    auto& adapter = platform.AddAdapter("WDK00001");
    const HidHandle h = openAdapter(adapter);
    Bytes report = outputReport("a");
    report.push_back(0);
    EXPECT_EQ(platform.writeReport(h, report.data(), 66, HidInfiniteTimeout),
              TransferOutcome::Failed);
    EXPECT_TRUE(adapter.UartOutput().empty());
}
