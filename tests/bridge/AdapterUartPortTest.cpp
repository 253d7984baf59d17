#include "bridge/AdapterUartPort.h"
#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/TestBytes.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int BoundMs = 60000;

// The port over an emulated adapter whose UART is connected and running.
class AdapterUartPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(adapter.Connect(0), WendrakeOk);
        ASSERT_EQ(adapter.EnableUart(), WendrakeOk);
        UartConfig line;
        ASSERT_EQ(adapter.GetUartConfig(&line), WendrakeOk);
        port = std::make_unique<AdapterUartPort>(adapter, line);
        port->start();
    }
    void TearDown() override {
        port.reset();
        adapter.Disconnect();
    }

    // Polls the port itself, without the event loop (whose waits sleep in steps of 10 ms): the
    // time until bytes are handed over, or a generous bound.
    std::chrono::microseconds untilReceived() {
        const auto start = std::chrono::steady_clock::now();
        while (port->takeReceived(1 << 20).isEmpty() &&
               std::chrono::steady_clock::now() - start < std::chrono::milliseconds(BoundMs))
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
    }

    QByteArray takeAll(qsizetype count) {
        QByteArray got;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                got += port->takeReceived(1 << 20);
                return got.size() >= count;
            },
            BoundMs))
            << got.size();
        return got;
    }

    EmulatedHidPlatform platform;
    AdapterFirmware& firmware = platform.AddAdapter("BRIDGE-1");
    CWendrake adapter{platform};
    std::unique_ptr<AdapterUartPort> port;
};

TEST_F(AdapterUartPortTest, LoopsBytesBackInOrderAndCommandsReachTheAdapter) {
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    firmware.SetLoopback(true);
    const QByteArray data = pattern(256 << 10);
    for (qsizetype at = 0; at < data.size(); at += 10000)
        ASSERT_TRUE(port->writeBytes(data.mid(at, 10000)));
    EXPECT_TRUE(takeAll(data.size()) == data);
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->pendingWrite() == 0; }, BoundMs));

    const UartConfig line{250000, 2, 1, 7, 1};
    ASSERT_TRUE(port->applyLine(line));
    EXPECT_EQ(firmware.Uart(), line);
    EXPECT_EQ(port->line(), line);
    ASSERT_TRUE(port->purge(true, false));
    ASSERT_TRUE(port->purge(false, true));
    ASSERT_TRUE(port->purge(true, true));
    EXPECT_EQ(firmware.PurgeCodes(), (std::vector<std::uint8_t>{1, 0, 2}));
    ASSERT_TRUE(port->setPins(0, PinLatchBit::Q3Reset));
    EXPECT_EQ(firmware.Latch() & PinLatchBit::Q3Reset, 0);
    std::uint8_t levels = 0;
    ASSERT_TRUE(port->pinLevels(&levels));
    EXPECT_EQ(levels, firmware.PinLevels());
}

// Bytes the bridge leaves in the port: the reader stops at its bound and the adapter's reports
// wait in the host's queue (a source that waits for room loses nothing); once taken, every
// byte comes out in order.
TEST_F(AdapterUartPortTest, ReaderStopsAtItsBoundUntilTheBytesAreTaken) {
    const QByteArray data = pattern(512 << 10);
    std::atomic<qsizetype> produced{0};
    // A source set under a read already waiting would not wake it: set it with the port stopped.
    port->stop();
    firmware.SetUartSource([&](std::uint8_t* out, std::size_t capacity) {
        const qsizetype n = std::min<qsizetype>(qsizetype(capacity), data.size() - produced);
        std::memcpy(out, data.constData() + produced, std::size_t(n));
        produced += n;
        return std::size_t(n);
    });
    port->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->readerWaits() >= 1; }, BoundMs));
    EXPECT_LT(produced, data.size());
    EXPECT_TRUE(takeAll(data.size()) == data);
    EXPECT_EQ(platform.DroppedInputReports(platform.IdOf(firmware)), 0u);
}

// Reports that keep coming are read several at a time, with pauses between the reads; not a
// byte is lost or reordered across them.
TEST_F(AdapterUartPortTest, StreamReadWithPausesInOrder) {
    // Reports wait in the adapter rather than be dropped when this machine is slow.
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    constexpr int Reports = 300;
    const QByteArray data = pattern(Reports * 64);
    std::thread feeder([&] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < Reports; ++i) {
            firmware.InjectUartInput(data.mid(i * 64, 64).toStdString());
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });
    const QByteArray got = takeAll(data.size());
    feeder.join();
    EXPECT_TRUE(got == data);
    EXPECT_GT(port->readerPauses(), 0u);
}

// What a client waits for is handed over without waiting for the next read of a stream: a
// byte after a quiet time, and the adapter's answer to the client's write when the reader has
// just begun a pause. Medians over several tries, against half the pause.
TEST_F(AdapterUartPortTest, QuietByteAndAnswerGoWithoutWaitingForThePause) {
    firmware.SetLoopback(true);
    const auto quiet = std::chrono::milliseconds(3 * AdapterUartPort::HandOverMs);
    const struct {
        const char* name;
        bool duringStream;
    } cases[] = {{"a byte after a quiet time", false}, {"an answer in a pause", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::chrono::microseconds> delays;
        for (int i = 0; i < 9; ++i) {
            std::this_thread::sleep_for(quiet);
            if (!c.duringStream) {
                firmware.InjectUartInput("q");
                delays.push_back(untilReceived());
                continue;
            }
            // Two reads with bytes in a row: the reader pauses before its next read.
            const std::uint64_t pauses = port->readerPauses();
            firmware.InjectUartInput("s");
            untilReceived();
            firmware.InjectUartInput("t");
            untilReceived();
            const auto start = std::chrono::steady_clock::now();
            while (port->readerPauses() == pauses) {
                ASSERT_LT(std::chrono::steady_clock::now() - start,
                          std::chrono::milliseconds(BoundMs));
                std::this_thread::yield();
            }
            ASSERT_TRUE(port->writeBytes("a"));
            delays.push_back(untilReceived());
        }
        std::sort(delays.begin(), delays.end());
        EXPECT_LT(delays[delays.size() / 2],
                  std::chrono::milliseconds(AdapterUartPort::HandOverMs) / 2);
    }
}

TEST_F(AdapterUartPortTest, UnplugEndsThePortWithGone) {
    QSignalSpy gone(port.get(), &AdapterPort::gone);
    platform.Unplug(firmware);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() == 1; }, BoundMs));
    EXPECT_FALSE(port->writeBytes("x"));
}

} // namespace
