#include "bridge/AdapterUartPort.h"
#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/TestBytes.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

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

TEST_F(AdapterUartPortTest, UnplugEndsThePortWithGone) {
    QSignalSpy gone(port.get(), &AdapterPort::gone);
    platform.Unplug(firmware);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() == 1; }, BoundMs));
    EXPECT_FALSE(port->writeBytes("x"));
}

} // namespace
