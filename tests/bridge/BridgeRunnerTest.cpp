#include "bridge/BridgeRunner.h"
#include "bridge/PtyFace.h"
#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/BridgeFixture.h"
#include "tests/support/LogCapture.h"

#include <QFileInfo>
#include <QSignalSpy>

namespace {

// The whole bridge on an emulated adapter whose UART is looped back, as the demo's.
class BridgeRunnerTest : public BridgeFixture {
protected:
    void SetUp() override {
        WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
        if (python3().isEmpty())
            GTEST_SKIP() << "python3-serial is not installed";
        platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
        firmware.SetLoopback(true);
        firmware.SetUart(found);
        options.serial = "BRIDGE-1";
        options.linkPath = dir.filePath("tty-BRIDGE-1");
        options.rfc2217 = true;
    }

    void startRunner() {
        runner = std::make_unique<BridgeRunner>(adapter, options);
        QString error;
        ASSERT_TRUE(runner->start(&error)) << error.toStdString();
    }

    QString url() const {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(runner->rfc2217()->serverPort());
    }

    const UartConfig found{19200, 0, 0, 8, 0};
    EmulatedHidPlatform platform;
    AdapterFirmware& firmware = platform.AddAdapter("BRIDGE-1");
    CWendrake adapter{platform};
    BridgeRunner::Options options;
    std::unique_ptr<BridgeRunner> runner;
};

const char* const PtyLoop = R"(
import serial, sys, os, threading
s = serial.Serial(sys.argv[1], 230400, timeout=20)
data = os.urandom(1 << 20)
w = threading.Thread(target=lambda: s.write(data)); w.start()
back = s.read(len(data))
w.join()
s.reset_output_buffer()
print('equal' if back == data else 'differs %d' % len(back))
)";

const char* const NetworkSettings = R"(
import serial, sys
s = serial.serial_for_url(sys.argv[1], baudrate=460800, bytesize=7, parity='O', stopbits=1, timeout=10)
s.dtr = False; s.rts = True
s.write(b'abc'); print(s.read(3).decode())
)";

// pyserial on the link and over rfc2217:// reach the emulated adapter's UART and pins; the
// end of the run writes back the settings the bridge found.
TEST_F(BridgeRunnerTest, ClientsReachTheAdapterAndTheEndWritesItsSettingsBack) {
    startRunner();
    const Client pty = python(PtyLoop, {options.linkPath});
    ASSERT_EQ(pty.exitCode, 0) << pty.err.toStdString();
    EXPECT_EQ(pty.out, "equal\n");
    EXPECT_EQ(firmware.Uart().BaudRate, 230400u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return firmware.PurgeCodes().size() == 2; }, ClientBoundMs));
    // pyserial's open resets its input (receive FIFO), then the reset of its output (transmit).
    EXPECT_EQ(firmware.PurgeCodes(), (std::vector<std::uint8_t>{1, 0}));

    const Client net = python(NetworkSettings, {url()});
    ASSERT_EQ(net.exitCode, 0) << net.err.toStdString();
    EXPECT_EQ(net.out, "abc\n");
    EXPECT_EQ(firmware.Uart(), (UartConfig{460800, 2, 0, 7, 0}));
    EXPECT_EQ(firmware.Latch() & (PinLatchBit::Gpio0 | PinLatchBit::Q3Reset),
              PinLatchBit::Q3Reset); // RTS asserted: GPIO0 low; DTR off: Q3 Reset high

    runner->stop();
    EXPECT_EQ(firmware.Uart(), found);
    EXPECT_FALSE(firmware.UartEnabled());
    EXPECT_FALSE(QFileInfo(options.linkPath).isSymLink());
}

// Bytes that came while nobody was connected are counted and said once at the end; a run that
// lost nothing says nothing.
TEST_F(BridgeRunnerTest, TheEndSaysWhatNoClientReceived) {
    const struct {
        std::string_view arrived;
        QString said;
    } cases[] = {
        {"", ""},
        {"unread", "adapter BRIDGE-1: dropped 6 bytes that came while no client was connected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said.toStdString());
        LogCapture log("wendrake.bridge");
        startRunner();
        firmware.InjectUartInput(c.arrived);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return runner->bridge()->droppedUnread() == qint64(c.arrived.size()); },
            ClientBoundMs));
        runner->stop();
        const QStringList said = log.lines().filter(QStringLiteral("adapter BRIDGE-1:"));
        EXPECT_EQ(said, c.said.isEmpty() ? QStringList() : QStringList{c.said});
    }
}

TEST_F(BridgeRunnerTest, UnplugTakesTheLinkAwayAndReplugBringsItBack) {
    startRunner();
    QSignalSpy back(runner.get(), &BridgeRunner::adapterBack);
    platform.Unplug(firmware);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !QFileInfo(options.linkPath).isSymLink(); }, ClientBoundMs));
    platform.Plug(firmware);
    ASSERT_TRUE(QTest::qWaitFor([&] { return back.count() == 1; }, ClientBoundMs));
    EXPECT_TRUE(QFileInfo(options.linkPath).isSymLink());
    const Client c = python("import serial,sys\ns=serial.Serial(sys.argv[1],timeout=10)\n"
                            "s.write(b'again'); print(s.read(5).decode())",
                            {options.linkPath});
    EXPECT_EQ(c.out, "again\n") << c.err.toStdString();
}

TEST_F(BridgeRunnerTest, OnceEndsTheRunWhenTheAdapterGoes) {
    options.once = true;
    startRunner();
    QSignalSpy ended(runner.get(), &BridgeRunner::ended);
    platform.Unplug(firmware);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, ClientBoundMs));
    EXPECT_EQ(ended.at(0).at(0).toString(), "adapter BRIDGE-1 is gone");
    EXPECT_FALSE(runner->isConnected());
    EXPECT_FALSE(QFileInfo(options.linkPath).isSymLink());
}

} // namespace
