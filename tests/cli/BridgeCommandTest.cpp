#include "tests/support/BridgeFixture.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>

#ifndef WT_WENDRAKE_PROGRAM
#error "WT_WENDRAKE_PROGRAM is set by the build to the wendrake program"
#endif

namespace {

// wendrake --demo bridge as a user runs it, with real clients on its link and its port.
class BridgeCommandTest : public BridgeFixture {
protected:
    void SetUp() override {
        WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
        if (python3().isEmpty())
            GTEST_SKIP() << "python3-serial is not installed";
        link = dir.filePath("tty-demo");
    }

    // Starts the bridge and reads where it offers the adapter.
    void startBridge(const QStringList& more = {}) {
        bridgeProcess = start(
            WT_WENDRAKE_PROGRAM,
            QStringList{"--demo", "bridge", "--link", link, "--rfc2217", "127.0.0.1:0"} + more);
        QProcess* p = bridgeProcess.get();
        ASSERT_TRUE(QTest::qWaitFor([p] { return p->canReadLine(); }, ClientBoundMs))
            << p->readAllStandardError().toStdString();
        const QString line = QString::fromUtf8(p->readLine()).trimmed();
        const QRegularExpression form(
            "^bridge WDK-DEMO-0001: (\\S+) rfc2217://127\\.0\\.0\\.1:(\\d+)$");
        const auto match = form.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        EXPECT_EQ(match.captured(1), link);
        url = "rfc2217://127.0.0.1:" + match.captured(2);
    }

    Client stopBridge() {
        ::kill(pid_t(bridgeProcess->processId()), SIGTERM);
        return finish(std::move(bridgeProcess));
    }

    QString link;
    QString url;
    std::unique_ptr<QProcess> bridgeProcess;
};

const char* const LoopAndSettings = R"(
import serial, sys, threading, random
s = serial.Serial(sys.argv[1], 921600, timeout=20)
data = random.Random(3).randbytes(1 << 20)
w = threading.Thread(target=lambda: s.write(data)); w.start()
back = s.read(len(data)); w.join()
print('pty', 'equal' if back == data else 'differs %d' % len(back))
s.close()
n = serial.serial_for_url(sys.argv[2], baudrate=9600, bytesize=7, parity='E', timeout=10)
n.rts = True; n.dtr = False
n.write(b'net'); print('rfc2217', n.read(3).decode())
)";

TEST_F(BridgeCommandTest, ClientsOnTheLinkAndThePortThenSigtermEndsCleanly) {
    startBridge();
    const Client c = python(LoopAndSettings, {link, url});
    EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, "pty equal\nrfc2217 net\n");
    const Client stty = run("stty", {"-F", link, "230400"});
    EXPECT_EQ(stty.exitCode, 0) << stty.err.toStdString();
    const Client end = stopBridge();
    EXPECT_EQ(end.exitCode, 0) << end.err.toStdString();
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST_F(BridgeCommandTest, SecondClientIsToldWhoHoldsTheAdapter) {
    startBridge();
    auto holder = start(python3(), {"-c",
                                    "import serial,sys\ns=serial.Serial(sys.argv[1])\n"
                                    "print('open', flush=True)\nsys.stdin.readline()",
                                    link});
    ASSERT_TRUE(QTest::qWaitFor([&] { return holder->canReadLine(); }, ClientBoundMs));
    const Client refused =
        python("import socket,sys\nh,p=sys.argv[1][len('rfc2217://'):].split(':')\n"
               "s=socket.create_connection((h,int(p)))\nprint(s.makefile('rb').readline()"
               ".decode().strip())",
               {url});
    EXPECT_EQ(refused.out.trimmed(),
              ("wendrake: the adapter is in use by a program on " + link).toUtf8());
    holder->write("\n");
    EXPECT_EQ(finish(std::move(holder)).exitCode, 0);
    EXPECT_EQ(stopBridge().exitCode, 0);
}

struct UsageCase {
    const char* name;
    QStringList args;
    int status;
    QString line;
};

class BridgeUsageTest : public BridgeFixture, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(BridgeUsageTest, RefusedWithOneLineAndItsStatus) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    const UsageCase& u = GetParam();
    const Client c = run(WT_WENDRAKE_PROGRAM, QStringList{"--demo", "bridge"} + u.args);
    EXPECT_EQ(c.exitCode, u.status);
    EXPECT_EQ(QString::fromUtf8(c.err), u.line + "\n");
    EXPECT_TRUE(c.out.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BridgeUsageTest,
    ::testing::Values(
        UsageCase{"PortOutOfRange",
                  {"--rfc2217", "70000"},
                  2,
                  "wendrake: --rfc2217: '70000' is not [ADDRESS:]PORT with a port from 0 to 65535"},
        UsageCase{"BadAddress",
                  {"--rfc2217", "nowhere:4000"},
                  2,
                  "wendrake: --rfc2217: 'nowhere:4000' is not [ADDRESS:]PORT with a port from 0 to "
                  "65535"},
        UsageCase{"UnknownPin",
                  {"--rts", "GPIO7"},
                  2,
                  "wendrake: --rts: 'GPIO7' is not a pin (GPIO0, GPIO1, Q3 Reset, Suspend, VPPCTL) "
                  "or none"},
        UsageCase{"OtherSerial",
                  {"-s", "NOPE"},
                  3,
                  "wendrake: no adapter with serial NOPE is attached (attached: WDK-DEMO-0001)"},
        UsageCase{"LinkOverAFile",
                  {"--link", "/dev/null"},
                  1,
                  "wendrake: /dev/null exists and is not a link"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

} // namespace
