#include "bridge/PtyFace.h"
#include "tests/support/BridgeFixture.h"
#include "tests/support/TestBytes.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

class PtyFaceTest : public BridgeFixture {
protected:
    void SetUp() override {
        WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
        if (python3().isEmpty())
            GTEST_SKIP() << "python3-serial is not installed";
        QString error;
        link = dir.filePath("run/tty-TEST");
        ASSERT_TRUE(face.open(link, &error)) << error.toStdString();
    }

    bool waitForNoClient() {
        return QTest::qWaitFor([this] { return !face.hasClient() && !bridge.holder(); },
                               ClientBoundMs);
    }

    // A client on the raw node with the input flags named in flags ("IXON,IXOFF"), running
    // script after its set-up; returned once the face has read its settings.
    std::unique_ptr<QProcess> startRawClient(const QString& flags, const QString& script,
                                             const QStringList& args = {}) {
        static const QString setUp = QStringLiteral(R"(
import os, sys, termios, tty, hashlib
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
a = termios.tcgetattr(fd)
a[0] |= sum(getattr(termios, f) for f in sys.argv[2].split(',') if f)
a[4] = a[5] = termios.B57600
termios.tcsetattr(fd, termios.TCSANOW, a)
def take(n):
    got = b''
    while len(got) < n: got += os.read(fd, n - len(got))
    return got
print('open', flush=True)
)");
        auto client = start(python3(), QStringList{"-c", setUp + script, link, flags} + args);
        QProcess* p = client.get();
        EXPECT_TRUE(QTest::qWaitFor([p] { return p->canReadLine(); }, ClientBoundMs));
        EXPECT_EQ(p->readLine(), "open\n");
        // The rate it set shows that the face has read the flags set with it.
        EXPECT_TRUE(QTest::qWaitFor(
            [this] { return face.hasClient() && port.current.BaudRate == 57600; }, ClientBoundMs));
        return client;
    }

    PtyFace face{bridge};
    QString link;
};

const char* const FollowRates = R"(
import serial, sys, termios
s = serial.Serial(sys.argv[1], timeout=10)
def sync(tag):
    s.write(tag); assert s.read(len(tag)) == tag, tag
for rate in (9600, 115200, 250000, 1000000):
    s.baudrate = rate
    sync(b'r%d' % rate)
s.stopbits = 2; s.rtscts = True
sync(b'stop2')
try:
    s.bytesize = 7
    print('cs7 taken')
except (serial.SerialException, termios.error) as e:
    print('cs7 refused', e.args[0])
print('cs8' if termios.tcgetattr(s.fd)[2] & termios.CSIZE == termios.CS8 else 'not cs8')
)";

// Each rate, standard or not, reaches the adapter before the bytes sent at it; stop bits and
// RTS/CTS follow; data bits cannot pass a pty, so the adapter keeps its own and the client
// gets EINVAL and reads 8 bits back.
TEST_F(PtyFaceTest, PyserialRatesStopBitsAndFlowFollowOntoTheAdapter) {
    port.loopback = true;
    // The adapter's rate when each tag starts to arrive.
    QList<std::uint32_t> rateAtEachSync;
    qsizetype seen = 0;
    QObject::connect(&port, &FakeAdapterPort::bytesReceived, [&] {
        const QByteArray chunk = port.written.mid(seen);
        seen = port.written.size();
        if (chunk.startsWith('r') || chunk.startsWith('s'))
            rateAtEachSync.append(port.current.BaudRate);
    });
    const Client c = python(FollowRates, {link});
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, "cs7 refused 22\ncs8\n");
    const QList<std::uint32_t> expected{9600, 115200, 250000, 1000000, 1000000};
    EXPECT_EQ(rateAtEachSync, expected);
    EXPECT_EQ(port.current.StopBits, 1);
    EXPECT_EQ(port.current.FlowControl, 1);
    EXPECT_EQ(port.current.DataBits, 8);
    EXPECT_EQ(port.current.Parity, 0);
    EXPECT_EQ(port.written, "r9600r115200r250000r1000000stop2");
}

const char* const LoopMebibyte = R"(
import serial, sys, threading, random, hashlib
s = serial.Serial(sys.argv[1], 921600, timeout=20)
data = random.Random(7).randbytes(1 << 20)
w = threading.Thread(target=lambda: s.write(data)); w.start()
back = bytearray()
while len(back) < len(data):
    chunk = s.read(len(data) - len(back))
    if not chunk: break
    back += chunk
w.join()
print(hashlib.sha256(data).hexdigest(), 'equal' if back == data else 'differs %d' % len(back))
)";

TEST_F(PtyFaceTest, PyserialLoopsAMebibyteBackInOrder) {
    port.loopback = true;
    const Client c = python(LoopMebibyte, {link});
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    const QList<QByteArray> words = c.out.trimmed().split(' ');
    ASSERT_EQ(words.size(), 2) << c.out.toStdString();
    EXPECT_EQ(words[1], "equal");
    EXPECT_EQ(QCryptographicHash::hash(port.written, QCryptographicHash::Sha256).toHex(), words[0]);
}

const char* const ResetBuffers = R"(
import serial, sys
s = serial.Serial(sys.argv[1], timeout=10)
s.reset_input_buffer(); s.write(b'1'); assert s.read(1) == b'1'
s.reset_output_buffer(); s.write(b'2'); assert s.read(1) == b'2'
)";

// A flush of the client's input purges the adapter's receive side, of its output the
// transmit side, each before the bytes sent after it.
TEST_F(PtyFaceTest, PyserialResetBuffersPurgeTheAdapterInOrder) {
    port.loopback = true;
    const Client c = python(ResetBuffers, {link});
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    const QList<FakeAdapterPort::Purge> expected{{true, false}, {false, true}};
    EXPECT_EQ(port.purges, expected);
    EXPECT_EQ(port.written, "12");
}

struct SttyCase {
    const char* name;
    QStringList args;
    std::uint32_t baud;
    std::uint8_t stopBits;
    std::uint8_t flow;
    bool refused; // stty reads back and finds the pty kept what it cannot carry
};

class PtySttyTest : public PtyFaceTest, public ::testing::WithParamInterface<SttyCase> {};

TEST_P(PtySttyTest, SttyOnTheLinkSetsTheAdapter) {
    if (!have("stty"))
        GTEST_SKIP() << "stty is not installed";
    const SttyCase& s = GetParam();
    const Client c = run("stty", QStringList{"-F", link} + s.args);
    EXPECT_EQ(c.exitCode != 0, s.refused) << c.err.toStdString();
    if (s.refused) {
        EXPECT_TRUE(c.err.contains("unable to perform all requested operations")) << c.err.data();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.current.BaudRate == s.baud; }, ClientBoundMs))
        << port.current.BaudRate;
    EXPECT_EQ(port.current.StopBits, s.stopBits);
    EXPECT_EQ(port.current.FlowControl, s.flow);
    EXPECT_EQ(port.current.DataBits, 8);
    // What stty shows of the link is the adapter's rate.
    const Client show = run("stty", {"-F", link, "speed"});
    EXPECT_EQ(show.out.trimmed(), QByteArray::number(s.baud));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PtySttyTest,
    ::testing::Values(
        SttyCase{"StandardRate", {"57600"}, 57600, 0, 0, false},
        SttyCase{"OddRateStopBitsAndFlow", {"500000", "cstopb", "crtscts"}, 500000, 1, 1, false},
        SttyCase{"SevenBitsRefused", {"19200", "cs7"}, 19200, 0, 0, true},
        SttyCase{"ParityRefused", {"38400", "parenb"}, 38400, 0, 0, true}),
    [](const ::testing::TestParamInfo<SttyCase>& info) { return std::string(info.param.name); });

struct PipedClientCase {
    const char* name;
    const char* program;
    QStringList args; // before the link
};

class PtyPipedClientTest : public PtyFaceTest,
                           public ::testing::WithParamInterface<PipedClientCase> {};

TEST_P(PtyPipedClientTest, PipedInputGoesOutAtItsRateAndTheLineComesBack) {
    const PipedClientCase& p = GetParam();
    if (!have(p.program))
        GTEST_SKIP() << p.program << " is not installed";
    auto client = start(p.program, p.args + QStringList{link});
    client->write("hello");
    // The client has the line at its rate until its input ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.written == "hello"; }, ClientBoundMs))
        << port.written.data();
    client->closeWriteChannel();
    const Client c = finish(std::move(client));
    EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(port.rateAtWrite, QList<std::uint32_t>(port.rateAtWrite.size(), 38400u));
    // The client puts the line back as it found it when it exits.
    ASSERT_TRUE(waitForNoClient());
    EXPECT_EQ(port.current.BaudRate, 115200u);
}

INSTANTIATE_TEST_SUITE_P(Clients, PtyPipedClientTest,
                         ::testing::Values(
                             // picocom ends 1.5 s after its input, tio at its end.
                             PipedClientCase{
                                 "Picocom", "picocom", {"-q", "-b", "38400", "-x", "1500"}},
                             PipedClientCase{"Tio", "tio", {"--mute", "-b", "38400"}}),
                         [](const ::testing::TestParamInfo<PipedClientCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(PtyFaceTest, LinkPointsAtAnOwnerOnlyNodeAndGoesWithTheFace) {
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), face.nodePath());
    struct stat st {};
    ASSERT_EQ(::stat(face.nodePath().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A link left by a bridge that died is replaced; a file that is not a link is not.
    PtyFace second(bridge);
    QString error;
    ASSERT_TRUE(second.open(link, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), second.nodePath());
    const QString plain = writeFile(dir, "plain", "keep");
    PtyFace third(bridge);
    EXPECT_FALSE(third.open(plain, &error));
    EXPECT_EQ(error, plain + " exists and is not a link");
    {
        PtyFace gone(bridge);
        ASSERT_TRUE(gone.open(dir.filePath("gone"), &error));
        EXPECT_TRUE(QFileInfo(dir.filePath("gone")).isSymLink());
    }
    EXPECT_FALSE(QFileInfo(dir.filePath("gone")).isSymLink());
}

const char* const ReadWhatComes = R"(
import serial, sys
s = serial.Serial(sys.argv[1], timeout=10)
print('open', flush=True)
sys.stdin.readline()
print(s.read(int(sys.argv[2])).decode(), flush=True)
)";

struct ReopenCase {
    const char* name;
    bool keepUnread;
    QByteArray seen;
};

class PtyReopenTest : public PtyFaceTest, public ::testing::WithParamInterface<ReopenCase> {};

// Bytes the last client left unread and bytes that came while nobody was connected reach the
// next client only when asked to keep them.
TEST_P(PtyReopenTest, NextClientSeesOnlyItsOwnBytes) {
    const ReopenCase& r = GetParam();
    bridge.setKeepUnread(r.keepUnread);
    const Client first =
        python("import serial,sys\ns=serial.Serial(sys.argv[1])\nprint('x')", {link});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    port.inject("early");
    ASSERT_TRUE(waitForNoClient());
    port.inject("-idle");
    auto second = start(python3(), {"-c", ReadWhatComes, link, QString::number(r.seen.size())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return second->canReadLine(); }, ClientBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return face.hasClient(); }, ClientBoundMs));
    port.inject("-late");
    second->write("go\n");
    const Client c = finish(std::move(second));
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, "open\n" + r.seen + "\n");
}

INSTANTIATE_TEST_SUITE_P(Unread, PtyReopenTest,
                         ::testing::Values(ReopenCase{"Dropped", false, "-late"},
                                           ReopenCase{"Kept", true, "early-idle-late"}),
                         [](const ::testing::TestParamInfo<ReopenCase>& info) {
                             return std::string(info.param.name);
                         });

const char* const XonXoff = R"(
import serial, sys
s = serial.Serial(sys.argv[1], xonxoff=True, timeout=10)
print('open', flush=True)
print(s.read(3).decode(), flush=True)
s.write(b'z'); s.flush()
print(s.read(1).decode(), flush=True)
)";

// With XON/XOFF asked for, the far end's flow bytes are not passed on; after XON the
// client's bytes go out again.
TEST_F(PtyFaceTest, FlowBytesFromTheFarEndAreTakenOutOfTheStream) {
    auto client = start(python3(), {"-c", XonXoff, link});
    ASSERT_TRUE(QTest::qWaitFor([&] { return client->canReadLine(); }, ClientBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return face.hasClient(); }, ClientBoundMs));
    port.inject("a\x13"
                "b\x11"
                "c");
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.written == "z"; }, ClientBoundMs));
    port.inject("!");
    const Client c = finish(std::move(client));
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, "open\nabc\n!\n");
}

// The master of the face's pty, among this process's descriptors.
int masterOf(const QString& node) {
    for (const QString& entry : QDir("/proc/self/fd").entryList(QDir::Files | QDir::System)) {
        unsigned number = 0;
        if (::ioctl(entry.toInt(), TIOCGPTN, &number) == 0 &&
            node == QStringLiteral("/dev/pts/%1").arg(number))
            return entry.toInt();
    }
    return -1;
}

int waitingIn(int fd) {
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

struct FarEndFlowCase {
    const char* name;
    const char* flags;
    QByteArray first; // what the client reads of "a" XOFF
    QByteArray rest;  // and of XON "b"
    bool holdsClient; // the far end's XOFF holds what the client sends until its XON
};

class PtyFarEndFlowTest : public PtyFaceTest,
                          public ::testing::WithParamInterface<FarEndFlowCase> {};

const char* const SendBetween = R"(
print(take(int(sys.argv[3])).hex(), flush=True)
os.write(fd, b'z'); print('sent', flush=True)
print(take(int(sys.argv[4])).hex(), flush=True)
)";

TEST_P(PtyFarEndFlowTest, FarEndXoffAndXonStopAndStartTheClientOnlyWithIxon) {
    const FarEndFlowCase& f = GetParam();
    const int master = masterOf(face.nodePath());
    ASSERT_GE(master, 0);
    auto client = startRawClient(f.flags, SendBetween,
                                 {QString::number(f.first.size()), QString::number(f.rest.size())});
    port.inject("a\x13");
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            out += client->readAllStandardOutput();
            return out.contains("sent\n");
        },
        ClientBoundMs));
    if (f.holdsClient) {
        // The client's byte waits in the pty: a face reading it would take it on the next turn
        // of the event loop.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return waitingIn(master) > 0 || !port.written.isEmpty(); }, ClientBoundMs));
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents();
        EXPECT_EQ(port.written, "");
    } else {
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.written == "z"; }, ClientBoundMs));
    }
    port.inject("\x11"
                "b");
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.written == "z"; }, ClientBoundMs))
        << port.written.toHex().data();
    const Client c = finish(std::move(client));
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(out + c.out, f.first.toHex() + "\nsent\n" + f.rest.toHex() + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Flow, PtyFarEndFlowTest,
    ::testing::Values(FarEndFlowCase{"Ixon", "IXON", "a", "b", true},
                      FarEndFlowCase{"IxonAndIxoff", "IXON,IXOFF", "a", "b", true},
                      FarEndFlowCase{"Neither", "", "a\x13", QByteArray("\x11") + "b", false}),
    [](const ::testing::TestParamInfo<FarEndFlowCase>& info) {
        return std::string(info.param.name);
    });

struct HoldCase {
    const char* name;
    const char* flags;
    bool leaves;     // the client goes without reading what waits for it
    QByteArray wire; // the flow bytes the adapter is sent
};

class PtyHoldTest : public PtyFaceTest, public ::testing::WithParamInterface<HoldCase> {};

const char* const ReadAllWhenTold = R"(
got = take(int(sys.stdin.readline()))
print(hashlib.sha256(got).hexdigest(), flush=True)
)";

// With IXOFF the far end is sent one XOFF when the bridge starts holding bytes the client does
// not read, and one XON once all of them are in the pty or the client has gone; no flow bytes
// without IXOFF.
TEST_P(PtyHoldTest, IxoffStopsTheFarEndOnceWhileHoldingAndStartsItOnceAfter) {
    const HoldCase& h = GetParam();
    // No flow bytes in the data, so IXON takes none of it out.
    QByteArray data = pattern(80 << 10);
    data.replace('\x11', '\x12').replace('\x13', '\x14');
    auto client = startRawClient(h.flags, ReadAllWhenTold);
    port.inject(data.left(64 << 10));
    ASSERT_GT(bridge.heldBytes(), 0) << "the pty took 64 KiB unread";
    EXPECT_EQ(port.written, h.wire.left(1));
    port.inject(data.mid(64 << 10));
    EXPECT_EQ(port.written, h.wire.left(1)) << "a second XOFF while holding";
    client->write(h.leaves ? "0\n" : QByteArray::number(data.size()) + "\n");
    const Client c = finish(std::move(client));
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    if (!h.leaves) {
        EXPECT_EQ(c.out.trimmed(),
                  QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    }
    ASSERT_TRUE(waitForNoClient());
    EXPECT_EQ(port.written.toHex(), h.wire.toHex());
}

INSTANTIATE_TEST_SUITE_P(
    Flow, PtyHoldTest,
    ::testing::Values(HoldCase{"IxoffClientReads", "IXOFF", false, "\x13\x11"},
                      HoldCase{"IxoffClientLeaves", "IXOFF", true, "\x13\x11"},
                      HoldCase{"IxonAndIxoff", "IXON,IXOFF", false, "\x13\x11"},
                      HoldCase{"IxonAlone", "IXON", false, ""},
                      HoldCase{"NeitherClientLeaves", "", true, ""}),
    [](const ::testing::TestParamInfo<HoldCase>& info) { return std::string(info.param.name); });

} // namespace
