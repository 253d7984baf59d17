#include "device/platform/HidrawPlatform.h"
#include "tests/support/BlockedThread.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Generous: only a hang shows up as this.
constexpr auto Bound = std::chrono::seconds(10);

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// ---------------------------------------------------------------- sysfs enumeration and nodes

class HidrawFakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_sys = fs::path(m_dir.path().toStdString()) / "sys";
        m_dev = fs::path(m_dir.path().toStdString()) / "dev";
        fs::create_directories(m_dev);
    }

    // A hidraw node: its sysfs entry, optionally the parent's uevent, and a file for /dev.
    void addNode(unsigned number, const std::optional<std::string>& uevent) {
        const fs::path node = m_sys / "class" / "hidraw" / ("hidraw" + std::to_string(number));
        fs::create_directories(node / "device");
        if (uevent)
            writeFile(node / "device" / "uevent", *uevent);
        writeFile(m_dev / ("hidraw" + std::to_string(number)), "");
    }

    std::string devPath(unsigned number) const {
        return (m_dev / ("hidraw" + std::to_string(number))).string();
    }

    QTemporaryDir m_dir;
    fs::path m_sys;
    fs::path m_dev;
};

TEST_F(HidrawFakeTree, EnumeratesNodesInNumericOrder) {
    for (unsigned n : {10u, 2u, 0u, 1u})
        addNode(n, "HID_ID=0003:0000E7A2:00004D15\n");
    // Not hidraw nodes: skipped.
    for (const char* other : {"hidraw", "hidrawx", "hidraw-1", "hidraw1a", "foo", "Hidraw3"})
        fs::create_directories(m_sys / "class" / "hidraw" / other);

    HidrawPlatform platform(m_sys.string(), m_dev.string());
    std::vector<std::string> paths;
    for (unsigned i = 0; auto path = platform.interfacePath(i); ++i)
        paths.push_back(*path);
    EXPECT_EQ(paths, (std::vector<std::string>{devPath(0), devPath(1), devPath(2), devPath(10)}));
}

TEST_F(HidrawFakeTree, ListsOtherVendorsAndNodesWithoutUevent) {
    // Matching is the device layer's business; the list holds every HID interface.
    addNode(3, "HID_ID=0003:0000046D:0000C52B\nHID_UNIQ=\n");
    addNode(4, std::nullopt);
    HidrawPlatform platform(m_sys.string(), m_dev.string());
    EXPECT_EQ(platform.interfacePath(0), devPath(3));
    EXPECT_EQ(platform.interfacePath(1), devPath(4));
    EXPECT_EQ(platform.interfacePath(2), std::nullopt);
}

TEST_F(HidrawFakeTree, NoHidrawClassMeansNoInterfaces) {
    HidrawPlatform platform(m_sys.string(), m_dev.string());
    EXPECT_EQ(platform.interfacePath(0), std::nullopt);
}

TEST_F(HidrawFakeTree, OpenIsExclusiveUntilClosed) {
    addNode(5, "HID_UNIQ=A\n");
    HidrawPlatform platform(m_sys.string(), m_dev.string());
    const HidHandle first = platform.openExclusive(devPath(5));
    ASSERT_NE(first, InvalidHidHandle);
    EXPECT_NE(first, 0);
    EXPECT_EQ(platform.openExclusive(devPath(5)), InvalidHidHandle);
    // Another program holding the lock counts the same.
    HidrawPlatform other(m_sys.string(), m_dev.string());
    EXPECT_EQ(other.openExclusive(devPath(5)), InvalidHidHandle);

    platform.close(first);
    const HidHandle again = other.openExclusive(devPath(5));
    EXPECT_NE(again, InvalidHidHandle);
    EXPECT_EQ(platform.openExclusive(devPath(99)), InvalidHidHandle);
}

TEST_F(HidrawFakeTree, SerialStringFromTheHidDeviceUevent) {
    addNode(1, "HID_ID=0003:0000E7A2:00004D15\nHID_NAME=x\nHID_UNIQ=WDK1\n");
    addNode(2, "HID_UNIQ=\n");
    addNode(3, "HID_ID=0003:0000E7A2:00004D15\n");
    addNode(4, std::nullopt);
    addNode(6, "HID_UNIQ=\xC3\xA9\xF0\x9F\x98\x80z\n");
    HidrawPlatform platform(m_sys.string(), m_dev.string());

    const auto serial = [&](unsigned node, std::size_t units) -> std::optional<std::u16string> {
        const HidHandle h = platform.openExclusive(devPath(node));
        EXPECT_NE(h, InvalidHidHandle);
        std::u16string buffer(units, u'#');
        const bool ok = platform.serialString(h, buffer.data(), units);
        platform.close(h);
        if (!ok)
            return std::nullopt;
        // Everything up to and including the terminator must have been written.
        const auto end = buffer.find(u'\0');
        EXPECT_NE(end, std::u16string::npos);
        return buffer.substr(0, end);
    };

    EXPECT_EQ(serial(1, 256), u"WDK1");
    EXPECT_EQ(serial(1, 3), u"WD");
    EXPECT_EQ(serial(1, 1), u"");
    EXPECT_EQ(serial(2, 256), u"");
    EXPECT_EQ(serial(3, 256), std::nullopt);
    EXPECT_EQ(serial(4, 256), std::nullopt);
    EXPECT_EQ(serial(6, 256), u"\u00E9\U0001F600z");
    // A cut through a surrogate pair drops the lone half.
    EXPECT_EQ(serial(6, 3), u"\u00E9");
    EXPECT_EQ(serial(6, 4), u"\u00E9\U0001F600");

    const HidHandle h = platform.openExclusive(devPath(1));
    char16_t unit = u'#';
    EXPECT_FALSE(platform.serialString(h, &unit, 0));
    EXPECT_EQ(unit, u'#');
    platform.close(h);
}

TEST_F(HidrawFakeTree, KernelRequestsFailCleanlyOnANodeThatIsNotHidraw) {
    addNode(7, "HID_UNIQ=A\n");
    HidrawPlatform platform(m_sys.string(), m_dev.string());
    const HidHandle h = platform.openExclusive(devPath(7));
    ASSERT_NE(h, InvalidHidHandle);
    HidAttributes attributes;
    HidCaps caps;
    std::array<std::uint8_t, 9> feature{0x42};
    EXPECT_FALSE(platform.attributes(h, attributes));
    EXPECT_FALSE(platform.capabilities(h, caps));
    EXPECT_FALSE(platform.getFeature(h, feature.data(), feature.size()));
    EXPECT_FALSE(platform.setFeature(h, feature.data(), feature.size()));
    std::size_t bytes = 77;
    // Report lengths unknown: there is nothing to read into.
    EXPECT_EQ(platform.readReports(h, feature.data(), feature.size(), 0, bytes),
              TransferOutcome::Failed);
    EXPECT_EQ(bytes, 77u);
    platform.close(h);
}

// ---------------------------------------------------------------- transfers over a socket pair

// A SOCK_SEQPACKET pair keeps report boundaries like a hidraw node, and closing the far end
// hangs the near one up like an unplug.
class HidrawTransfers : public ::testing::Test {
protected:
    static constexpr std::uint16_t L = 65;

    void SetUp() override { adopt(HidCaps{L, L, 9}, true); }
    void TearDown() override {
        if (m_handle != InvalidHidHandle)
            m_platform.close(m_handle);
        closeFar();
    }

    void adopt(const HidCaps& caps, bool usesIds) {
        if (m_handle != InvalidHidHandle)
            m_platform.close(m_handle);
        closeFar();
        std::array<int, 2> fds{};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()), 0);
        m_far = fds[1];
        m_handle = m_platform.adoptForTest(fds[0], caps, usesIds);
        ASSERT_NE(m_handle, InvalidHidHandle);
    }

    void sendFromDevice(const Bytes& report) {
        ASSERT_EQ(::send(m_far, report.data(), report.size(), 0), ssize_t(report.size()));
    }
    static Bytes report(std::uint8_t id, std::size_t size) {
        Bytes r(size);
        for (std::size_t i = 0; i < size; ++i)
            r[i] = static_cast<std::uint8_t>(i == 0 ? id : id + i);
        return r;
    }
    void closeFar() {
        if (m_far >= 0)
            ::close(m_far);
        m_far = -1;
    }
    TransferOutcome read(Bytes& buffer, std::size_t& bytes, std::uint32_t timeoutMs) {
        return m_platform.readReports(m_handle, buffer.data(), buffer.size(), timeoutMs, bytes);
    }
    // A read without time-out on another thread, returned once it blocks; yields its outcome
    // and byte count.
    std::future<std::pair<TransferOutcome, std::size_t>> startBlockedRead() {
        auto reader = std::make_shared<BlockedThread>();
        auto pending = std::async(std::launch::async, [this, reader] {
            reader->markSelf();
            Bytes buffer(L);
            std::size_t bytes = 99;
            const auto outcome = read(buffer, bytes, HidInfiniteTimeout);
            return std::make_pair(outcome, bytes);
        });
        EXPECT_TRUE(reader->waitUntilAsleep(std::chrono::seconds(5))) << "the read never blocked";
        return pending;
    }

    HidrawPlatform m_platform{"/nonexistent-sys", "/nonexistent-dev"};
    HidHandle m_handle = InvalidHidHandle;
    int m_far = -1;
};

TEST_F(HidrawTransfers, BurstIsTakenInOneCallIntoWholeSlots) {
    const Bytes a = report(0xC0, L), b = report(0x8A, 11), c = report(0xC0, L);
    sendFromDevice(a);
    sendFromDevice(b);
    sendFromDevice(c);

    Bytes buffer(5 * L, 0xEE);
    std::size_t bytes = 0;
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    ASSERT_EQ(bytes, 3u * L);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + L), a);
    // The short report sits at the start of its slot, the rest of the slot zeroed.
    Bytes paddedB = b;
    paddedB.resize(L, 0);
    EXPECT_EQ(Bytes(buffer.begin() + L, buffer.begin() + 2 * L), paddedB);
    EXPECT_EQ(Bytes(buffer.begin() + 2 * L, buffer.begin() + 3 * L), c);
    // Past the reports the buffer is untouched.
    EXPECT_EQ(buffer[3 * L], 0xEE);
}

TEST_F(HidrawTransfers, StopsWhenTheBufferIsFullAndLeavesTheRestQueued) {
    for (std::uint8_t id : {0x81, 0x82, 0x83})
        sendFromDevice(report(id, L));
    Bytes buffer(2 * L + L / 2);
    std::size_t bytes = 0;
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    EXPECT_EQ(bytes, 2u * L);
    EXPECT_EQ(buffer[0], 0x81);
    EXPECT_EQ(buffer[L], 0x82);
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    EXPECT_EQ(bytes, std::size_t{L});
    EXPECT_EQ(buffer[0], 0x83);
}

TEST_F(HidrawTransfers, OverlongReportIsCutToItsSlot) {
    Bytes longReport = report(0xC0, L + 5);
    sendFromDevice(longReport);
    sendFromDevice(report(0x81, 2));
    Bytes buffer(2 * L);
    std::size_t bytes = 0;
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    ASSERT_EQ(bytes, 2u * L);
    longReport.resize(L);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + L), longReport);
    EXPECT_EQ(buffer[L], 0x81);
}

TEST_F(HidrawTransfers, ReportsWithoutIdsGetAZeroIdByte) {
    adopt(HidCaps{9, 9, 0}, false);
    sendFromDevice({1, 2, 3, 4, 5, 6, 7, 8});
    sendFromDevice({9});
    Bytes buffer(2 * 9, 0xEE);
    std::size_t bytes = 0;
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    ASSERT_EQ(bytes, 18u);
    EXPECT_EQ(buffer, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(HidrawTransfers, BufferSmallerThanOneReportFails) {
    sendFromDevice(report(0x81, L));
    Bytes buffer(L - 1);
    std::size_t bytes = 5;
    EXPECT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Failed);
    EXPECT_EQ(bytes, 5u);
}

TEST_F(HidrawTransfers, NothingQueuedTimesOutAndLeavesByteCountAlone) {
    Bytes buffer(L);
    std::size_t bytes = 1234;
    EXPECT_EQ(read(buffer, bytes, 20), TransferOutcome::TimedOut);
    EXPECT_EQ(read(buffer, bytes, 0), TransferOutcome::TimedOut);
    EXPECT_EQ(bytes, 1234u);
}

TEST_F(HidrawTransfers, CancelWakesABlockedRead) {
    auto pending = startBlockedRead();
    m_platform.cancel(m_handle, TransferKind::Read);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    const auto [outcome, bytes] = pending.get();
    EXPECT_EQ(outcome, TransferOutcome::Completed);
    EXPECT_EQ(bytes, 0u);
}

TEST_F(HidrawTransfers, CancelBeforeTheReadStillEndsItUntilReset) {
    m_platform.cancel(m_handle, TransferKind::Read);
    Bytes buffer(L);
    std::size_t bytes = 99;
    // Kept: every read ends at once, not just the first.
    for (int i = 0; i < 3; ++i) {
        bytes = 99;
        ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
        EXPECT_EQ(bytes, 0u);
    }
    m_platform.resetCancel(m_handle, TransferKind::Read);
    EXPECT_EQ(read(buffer, bytes, 20), TransferOutcome::TimedOut);
    sendFromDevice(report(0x82, L));
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    EXPECT_EQ(bytes, std::size_t{L});
}

TEST_F(HidrawTransfers, CancelOfOneKindLeavesTheOtherAlone) {
    m_platform.cancel(m_handle, TransferKind::Write);
    Bytes buffer(L);
    std::size_t bytes = 0;
    EXPECT_EQ(read(buffer, bytes, 20), TransferOutcome::TimedOut);
    m_platform.resetCancel(m_handle, TransferKind::Write);
    const Bytes out = report(0x83, L);
    EXPECT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), HidInfiniteTimeout),
              TransferOutcome::Completed);
    Bytes got(2 * L);
    EXPECT_EQ(::recv(m_far, got.data(), got.size(), 0), ssize_t(L));
}

TEST_F(HidrawTransfers, UnplugEndsThePendingReadThenReadsFail) {
    auto pending = startBlockedRead();
    closeFar();
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    const auto [outcome, bytes] = pending.get();
    EXPECT_EQ(outcome, TransferOutcome::Completed);
    EXPECT_EQ(bytes, 0u);

    Bytes buffer(L);
    std::size_t later = 42;
    EXPECT_EQ(read(buffer, later, HidInfiniteTimeout), TransferOutcome::Failed);
    EXPECT_EQ(read(buffer, later, 0), TransferOutcome::Failed);
    EXPECT_EQ(later, 42u);
}

TEST_F(HidrawTransfers, ReportsQueuedBeforeAnUnplugAreDeliveredFirst) {
    sendFromDevice(report(0x81, L));
    sendFromDevice(report(0x82, L));
    closeFar();
    Bytes buffer(4 * L);
    std::size_t bytes = 0;
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    EXPECT_EQ(bytes, 2u * L);
    EXPECT_EQ(buffer[L], 0x82);
    // No empty completion in between: the unplug ended no read that was waiting.
    EXPECT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Failed);
    EXPECT_EQ(bytes, 2u * L);
}

// Reads started after an unplug: what was queued, in whole slots, then failures at once.
struct AfterUnplugCase {
    const char* Name;
    int Queued;                       // reports 0x81, 0x82, ... queued before the unplug
    std::size_t Slots;                // report slots in each read's buffer
    bool WriteFirst;                  // a write sees the unplug before the reads
    std::vector<std::size_t> Reports; // reports delivered by each read before the failures
};

void PrintTo(const AfterUnplugCase& c, std::ostream* os) {
    *os << c.Name;
}

class HidrawAfterUnplug : public HidrawTransfers,
                          public ::testing::WithParamInterface<AfterUnplugCase> {};

TEST_P(HidrawAfterUnplug, QueuedReportsThenEveryReadFailsAtOnce) {
    const AfterUnplugCase& c = GetParam();
    for (int i = 0; i < c.Queued; ++i)
        sendFromDevice(report(static_cast<std::uint8_t>(0x81 + i), L));
    closeFar();
    if (c.WriteFirst) {
        const Bytes out = report(0x85, L);
        EXPECT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), HidInfiniteTimeout),
                  TransferOutcome::Failed);
    }
    Bytes buffer(c.Slots * L);
    int next = 0;
    for (std::size_t reports : c.Reports) {
        std::size_t bytes = 0;
        ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
        ASSERT_EQ(bytes, reports * L);
        for (std::size_t slot = 0; slot < reports; ++slot)
            EXPECT_EQ(buffer[slot * L], 0x81 + next++);
    }
    EXPECT_EQ(next, c.Queued);
    for (int i = 0; i < 2; ++i) {
        std::size_t untouched = 77;
        EXPECT_EQ(read(buffer, untouched, HidInfiniteTimeout), TransferOutcome::Failed);
        EXPECT_EQ(untouched, 77u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HidrawAfterUnplug,
    ::testing::Values(AfterUnplugCase{"NothingQueued", 0, 4, false, {}},
                      AfterUnplugCase{"AllInOneRead", 3, 4, false, {3}},
                      AfterUnplugCase{"OverSeveralReads", 5, 2, false, {2, 2, 1}},
                      AfterUnplugCase{"AFailedWriteKeepsTheQueue", 2, 4, true, {2}}),
    [](const ::testing::TestParamInfo<AfterUnplugCase>& info) {
        return std::string(info.param.Name);
    });

TEST_F(HidrawTransfers, WriteSendsExactlyOneReport) {
    const Bytes out = report(0x85, L);
    ASSERT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), 1000),
              TransferOutcome::Completed);
    Bytes got(2 * L);
    ASSERT_EQ(::recv(m_far, got.data(), got.size(), 0), ssize_t(L));
    got.resize(L);
    EXPECT_EQ(got, out);
}

TEST_F(HidrawTransfers, WriteAfterUnplugFails) {
    closeFar();
    const Bytes out = report(0x85, L);
    EXPECT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), HidInfiniteTimeout),
              TransferOutcome::Failed);
    EXPECT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), HidInfiniteTimeout),
              TransferOutcome::Failed);
    // The read side has seen the unplug through the write: it fails at once too.
    Bytes buffer(L);
    std::size_t bytes = 0;
    EXPECT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Failed);
}

class HidrawBlockedWrite : public HidrawTransfers {
protected:
    // Fills the socket until a further report would have to wait, like a device that stopped
    // taking output reports. The write that times out stays on the writer thread.
    void fillUp() {
        const Bytes out = report(0xC0, L);
        for (int i = 0; i < 100000; ++i) {
            if (m_platform.writeReport(m_handle, out.data(), out.size(), 50) !=
                TransferOutcome::Completed)
                return;
        }
        FAIL() << "the socket never filled up";
    }
};

TEST_F(HidrawBlockedWrite, WriteThatCannotGoOutTimesOut) {
    fillUp();
    const Bytes out = report(0xC0, L);
    EXPECT_EQ(m_platform.writeReport(m_handle, out.data(), out.size(), 20),
              TransferOutcome::TimedOut);
}

TEST_F(HidrawBlockedWrite, CancelWakesABlockedWrite) {
    fillUp();
    BlockedThread writer;
    auto pending = std::async(std::launch::async, [this, &writer] {
        writer.markSelf();
        const Bytes out = report(0xC0, L);
        return m_platform.writeReport(m_handle, out.data(), out.size(), HidInfiniteTimeout);
    });
    ASSERT_TRUE(writer.waitUntilAsleep(std::chrono::seconds(5))) << "the write never blocked";
    m_platform.cancel(m_handle, TransferKind::Write);
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    EXPECT_EQ(pending.get(), TransferOutcome::Completed);
}

TEST_F(HidrawTransfers, FlushDropsQueuedReports) {
    for (std::uint8_t id : {0x81, 0x82, 0x83})
        sendFromDevice(report(id, L));
    EXPECT_TRUE(m_platform.flushInput(m_handle));
    Bytes buffer(4 * L);
    std::size_t bytes = 0;
    EXPECT_EQ(read(buffer, bytes, 20), TransferOutcome::TimedOut);
    // Reports arriving after the flush are read as usual.
    sendFromDevice(report(0x84, L));
    ASSERT_EQ(read(buffer, bytes, HidInfiniteTimeout), TransferOutcome::Completed);
    EXPECT_EQ(buffer[0], 0x84);
    closeFar();
    EXPECT_FALSE(m_platform.flushInput(m_handle));
}

TEST_F(HidrawTransfers, CloseEndsAPendingReadAndRetiresTheHandle) {
    auto pending = startBlockedRead();
    const HidHandle closed = m_handle;
    m_platform.close(m_handle);
    m_handle = InvalidHidHandle;
    ASSERT_EQ(pending.wait_for(Bound), std::future_status::ready);
    EXPECT_EQ(pending.get().second, 0u);

    Bytes buffer(L);
    std::size_t bytes = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(m_platform.readReports(closed, buffer.data(), buffer.size(), 0, bytes),
              TransferOutcome::Failed);
    EXPECT_EQ(m_platform.writeReport(closed, buffer.data(), buffer.size(), 0),
              TransferOutcome::Failed);
    EXPECT_FALSE(m_platform.inputBufferCount(closed, count));
    EXPECT_FALSE(m_platform.flushInput(closed));
    // Safe on a handle that is gone.
    m_platform.cancel(closed, TransferKind::Read);
    m_platform.resetCancel(closed, TransferKind::Read);
    m_platform.close(closed);
}

TEST_F(HidrawTransfers, HandlesAreDistinctAndNeverZeroOrInvalid) {
    std::vector<HidHandle> handles{m_handle};
    std::vector<int> fars;
    for (int i = 0; i < 5; ++i) {
        std::array<int, 2> fds{};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()), 0);
        fars.push_back(fds[1]);
        handles.push_back(m_platform.adoptForTest(fds[0], HidCaps{L, L, 9}));
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
        EXPECT_NE(handles[i], 0);
        EXPECT_NE(handles[i], InvalidHidHandle);
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(handles[i], handles[j]);
    }
    for (std::size_t i = 1; i < handles.size(); ++i)
        m_platform.close(handles[i]);
    for (int fd : fars)
        ::close(fd);
    EXPECT_EQ(m_platform.adoptForTest(-1, HidCaps{L, L, 9}), InvalidHidHandle);
}

TEST_F(HidrawTransfers, QueueDepthIsTheKernelsAndCannotBeSet) {
    std::uint32_t count = 0;
    ASSERT_TRUE(m_platform.inputBufferCount(m_handle, count));
    EXPECT_EQ(count, 63u);
    EXPECT_FALSE(m_platform.setInputBufferCount(m_handle, 512));
    EXPECT_EQ(m_platform.osVersion().PlatformId, 0u);
}

} // namespace
