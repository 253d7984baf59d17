#include "bridge/Rfc2217Face.h"
#include "bridge/PtyFace.h"
#include "tests/support/BridgeFixture.h"

#include <QFile>
#include <QTcpSocket>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

class Rfc2217FaceTest : public BridgeFixture {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(face.listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
        url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(face.serverPort());
    }

    std::unique_ptr<QTcpSocket> connectRaw() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, face.serverPort());
        EXPECT_TRUE(socket->waitForConnected(ClientBoundMs));
        return socket;
    }

    Rfc2217Face face{bridge};
    QString url;
};

const char* const EverySetting = R"(
import serial, sys
s = serial.serial_for_url(sys.argv[1], baudrate=57600, bytesize=7, parity='E', stopbits=2, timeout=10)
s.write(b'ping'); assert s.read(4) == b'ping'
print('cts', s.cts)
s.rts = True; s.dtr = False
s.rtscts = True
s.reset_input_buffer()
s.baudrate = 250000
s.write(b'x'); assert s.read(1) == b'x'
s.close()
)";

// pyserial over the network: every line setting lands on the adapter before the bytes sent
// after it, RTS and DTR drive GPIO0 and Q3 Reset (asserted is low), CTS comes from GPIO1.
TEST_F(Rfc2217FaceTest, PyserialSetsEveryLineSettingAndTheModemLines) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    if (python3().isEmpty())
        GTEST_SKIP() << "python3-serial is not installed";
    port.loopback = true;
    port.latch = 0x1F & ~PinLatchBit::Gpio1;
    const Client c = python(EverySetting, {url});
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, "cts True\n");
    EXPECT_EQ(port.current.BaudRate, 250000u);
    EXPECT_EQ(port.current.DataBits, 7);
    EXPECT_EQ(port.current.Parity, 1); // even
    EXPECT_EQ(port.current.StopBits, 1);
    EXPECT_EQ(port.current.FlowControl, 1);
    EXPECT_EQ(port.written, "pingx");
    const QList<std::uint32_t> rates{57600, 250000};
    EXPECT_EQ(port.rateAtWrite, rates);
    using P = FakeAdapterPort::PinWrite;
    const QList<P> pins{{0, PinLatchBit::Q3Reset}, // open: DTR on
                        {0, PinLatchBit::Gpio0},   // open: RTS on
                        {0, PinLatchBit::Gpio0},
                        {PinLatchBit::Q3Reset, PinLatchBit::Q3Reset}};
    EXPECT_EQ(port.pinWrites, pins);
    const QList<FakeAdapterPort::Purge> purges{{true, false}, {false, true}, {true, false}};
    EXPECT_EQ(port.purges, purges);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !face.hasClient() && !bridge.holder(); }, ClientBoundMs));
}

// Broken negotiation, a huge subnegotiation and unknown commands are dropped and counted; the
// commands and data after them still work.
TEST_F(Rfc2217FaceTest, HostileInputIsCountedAndSurvived) {
    auto socket = connectRaw();
    QByteArray hostile("\xff\xfa\x2c\x01", 4);
    hostile += QByteArray(100000, '\x07');
    hostile += QByteArray("\xff\xf0\xff\xf0\xff\xfa\x2c\x63\x01\xff\xf0", 11);
    hostile += QByteArray("\xff\xfa\x2c\x01\x00\x00\x25\x80\xff\xf0ok", 12);
    socket->write(hostile);
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.written == "ok"; }, ClientBoundMs));
    EXPECT_EQ(port.current.BaudRate, 9600u);
    EXPECT_EQ(face.problems(), 3u);
    const QByteArray answer("\xff\xfa\x2c\x65\x00\x00\x25\x80\xff\xf0", 10);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return socket->peek(1 << 16).contains(answer); }, ClientBoundMs));
}

// A client that never reads: the socket and the bridge fill to their bounds, then the bridge
// stops taking from the adapter port, which keeps the rest; nothing is lost once it reads.
TEST_F(Rfc2217FaceTest, ClientThatNeverReadsLeavesTheRestWithTheAdapter) {
    auto socket = connectRaw();
    socket->setReadBufferSize(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return face.hasClient(); }, ClientBoundMs));
    QByteArray data(8 << 20, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251); // no Telnet IAC in it
    for (qsizetype at = 0; at < data.size(); at += 1 << 16)
        port.inject(data.mid(at, 1 << 16));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return bridge.heldBytes() == Bridge::HeldBound; }, ClientBoundMs));
    EXPECT_GT(port.received.size(), 0);
    EXPECT_GE(bridge.receiveStops(), 1);
    socket->setReadBufferSize(0);
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            got += socket->readAll();
            return got.size() >= data.size() && got.endsWith(data.right(4096));
        },
        ClientBoundMs));
    // The greeting and the modem state come first, then every byte once, in order.
    EXPECT_TRUE(got.right(data.size()) == data);
    EXPECT_EQ(port.received.size(), 0);
}

// One client at a time across both faces; a refused client is told who holds the adapter.
TEST_F(Rfc2217FaceTest, SecondClientOnEitherFaceIsRefused) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    if (python3().isEmpty())
        GTEST_SKIP() << "python3-serial is not installed";
    PtyFace pty(bridge);
    QString error;
    const QString link = dir.filePath("tty-TEST");
    ASSERT_TRUE(pty.open(link, &error)) << error.toStdString();
    {
        auto holder = connectRaw();
        ASSERT_TRUE(QTest::qWaitFor([&] { return face.hasClient(); }, ClientBoundMs));
        const Client c = python("import serial,sys\ns=serial.Serial(sys.argv[1],timeout=10)\n"
                                "print(s.read_until(b'\\n').decode().strip())",
                                {link});
        EXPECT_EQ(c.out.trimmed(),
                  QStringLiteral("wendrake: the adapter is in use by an RFC 2217 client at "
                                 "127.0.0.1:%1")
                      .arg(holder->localPort())
                      .toUtf8());
        auto second = connectRaw();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return second->state() == QAbstractSocket::UnconnectedState; }, ClientBoundMs));
        EXPECT_TRUE(second->readAll().startsWith("wendrake: the adapter is in use by an RFC 2217"));
        EXPECT_EQ(face.refusedClients(), 1);
        EXPECT_EQ(pty.refusedOpens(), 1);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bridge.holder(); }, ClientBoundMs));
    auto client = start(python3(), {"-c",
                                    "import serial,sys\ns=serial.Serial(sys.argv[1])\nprint('open',"
                                    " flush=True)\nsys.stdin.readline()",
                                    link});
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.holder() == &pty; }, ClientBoundMs));
    auto refused = connectRaw();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return refused->state() == QAbstractSocket::UnconnectedState; }, ClientBoundMs));
    EXPECT_EQ(refused->readAll(),
              ("wendrake: the adapter is in use by a program on " + link + "\r\n").toUtf8());
    client->write("\n");
    EXPECT_EQ(finish(std::move(client)).exitCode, 0);
}

// Most serial programs flush their input right after they open, which may come after the refusal
// was written: the message is written again, so it is never lost; the refused program's bytes go
// nowhere.
TEST_F(Rfc2217FaceTest, RefusalOutlivesTheRefusedProgramsFlushes) {
    PtyFace pty(bridge);
    QString error;
    const QString link = dir.filePath("tty-TEST");
    ASSERT_TRUE(pty.open(link, &error)) << error.toStdString();
    auto holder = connectRaw();
    ASSERT_TRUE(QTest::qWaitFor([&] { return face.hasClient(); }, ClientBoundMs));
    const QByteArray message =
        QStringLiteral("wendrake: the adapter is in use by an RFC 2217 client at 127.0.0.1:%1\r\n")
            .arg(holder->localPort())
            .toUtf8();

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    auto readable = [&] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    };
    for (int flush = 0; flush < 3; ++flush) {
        SCOPED_TRACE(flush);
        ASSERT_TRUE(QTest::qWaitFor(readable, ClientBoundMs));
        if (flush < 2) {
            ASSERT_EQ(::write(fd, "lost", 4), 4);
            ::tcflush(fd, TCIFLUSH);
            continue;
        }
        char got[128] = {};
        const ssize_t n = ::read(fd, got, sizeof got);
        EXPECT_EQ(QByteArray(got, int(std::max<ssize_t>(n, 0))), message);
    }
    ::close(fd);
    EXPECT_EQ(pty.refusedOpens(), 1);
    EXPECT_TRUE(port.written.isEmpty());
}

} // namespace
