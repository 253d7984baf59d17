// The bridge at the adapter's full rate and its round trip. An emulated adapter (hidraw-like
// queue) receives one 64-byte report a millisecond; the bridge hands it through the pty to a
// client thread that reads the link. Figures: CPU time of the bridge (the whole process less the
// client and the feeder threads) per second of wall time, split by thread: the main thread
// (pump and pty writes), the adapter reader (and within it the emulated hidraw's reads, which
// stand in for the kernel's) and the writer; and that every byte arrived in order. Then the
// round trip of one byte written to the link, looped back by the adapter and read again: median
// and 99th percentile.
//
//   bridge_rate           10 s of rate, 5000 round trips
//   bridge_rate --smoke   1 s, 200 round trips (CI)

#include "bridge/AdapterUartPort.h"
#include "bridge/Bridge.h"
#include "bridge/PtyFace.h"
#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t ReportBytes = 64;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int openRaw(const QString& link) {
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::uint8_t patternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>(i * 11 + 3);
}

// The emulated hidraw's reads, timed on the reading thread's CPU clock: with a real adapter the
// kernel does this work instead (in the bridge's read calls, at a different cost).
class TimedPlatform : public EmulatedHidPlatform {
public:
    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override {
        const double before = threadCpuSeconds();
        const TransferOutcome outcome =
            EmulatedHidPlatform::readReports(handle, buffer, length, timeoutMs, bytesRead);
        m_readNanos += std::uint64_t((threadCpuSeconds() - before) * 1e9);
        return outcome;
    }
    double readSeconds() const { return double(m_readNanos) / 1e9; }

private:
    std::atomic<std::uint64_t> m_readNanos{0};
};

// CPU time and wake-ups (switches away to wait, not counting preemption) of each thread of this
// process, by name (the main thread as "main"), from the kernel's figures.
struct ThreadFigures {
    double seconds = 0;
    std::uint64_t wakeUps = 0;
};

std::map<std::string, ThreadFigures> threadFigures() {
    std::map<std::string, ThreadFigures> figures;
    const QString self = QString::number(::getpid());
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly) ||
            !status.open(QIODevice::ReadOnly))
            continue;
        const std::string name =
            tid == self ? std::string("main") : comm.readAll().trimmed().toStdString();
        ThreadFigures& f = figures[name];
        f.seconds += stat.readAll().split(' ').value(0).toDouble() / 1e9;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                f.wakeUps += line.mid(line.indexOf(':') + 1).trimmed().toULongLong();
    }
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int seconds = smoke ? 1 : 10;
    const int roundTrips = smoke ? 200 : 5000;

    TimedPlatform platform;
    // The emulator's record of every report and of the UART output would grow for the whole
    // run, and its cost would be counted as the bridge's.
    platform.SetWireRecording(false);
    AdapterFirmware& firmware = platform.AddAdapter("BENCH-1");
    firmware.SetRecordUartOutput(false);
    CWendrake adapter(platform);
    if (adapter.Connect(0) != WendrakeOk || adapter.EnableUart() != WendrakeOk) {
        std::fprintf(stderr, "the emulated adapter did not connect\n");
        return 1;
    }
    UartConfig line;
    adapter.GetUartConfig(&line);
    AdapterUartPort port(adapter, line);
    Bridge bridge(port);
    PtyFace face(bridge);
    QTemporaryDir dir;
    QString error;
    if (!face.open(dir.filePath("tty-BENCH-1"), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    port.start();
    const int client = openRaw(face.linkPath());
    if (client < 0 || !QTest::qWaitFor([&] { return face.hasClient(); }, 10000)) {
        std::fprintf(stderr, "the client could not open the link\n");
        return 1;
    }

    // Rate: a feeder paced by the clock, a reader checking every byte.
    const std::uint64_t total = std::uint64_t(seconds) * 1000 * ReportBytes;
    // A plain event loop: QTest::qWaitFor sleeps between its rounds, which would be measured.
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> received{0};
    std::atomic<bool> inOrder{true};
    double feederCpu = 0, readerCpu = 0;
    std::uint64_t feederLate = 0;
    std::thread reader([&] {
        pthread_setname_np(pthread_self(), "client");
        std::vector<std::uint8_t> buffer(1 << 16);
        while (received < total) {
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0)
                break;
            const ssize_t n = ::read(client, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[std::size_t(i)] != patternByte(received + std::uint64_t(i)))
                    inOrder = false;
            received += std::uint64_t(n);
        }
        readerCpu = threadCpuSeconds();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    std::thread feeder([&] {
        pthread_setname_np(pthread_self(), "feeder");
        // The bus brings at most one report a millisecond: a feeder that was not scheduled in
        // time goes on from now instead of sending what it missed at once, which no adapter can.
        auto next = std::chrono::steady_clock::now();
        std::uint8_t report[ReportBytes];
        for (std::uint64_t sent = 0; sent < total; sent += ReportBytes) {
            for (std::size_t i = 0; i < ReportBytes; ++i)
                report[i] = patternByte(sent + i);
            firmware.InjectUartInput(report, ReportBytes);
            next += std::chrono::milliseconds(1);
            const auto now = std::chrono::steady_clock::now();
            if (next < now) {
                next = now;
                ++feederLate;
            }
            std::this_thread::sleep_until(next);
        }
        feederCpu = threadCpuSeconds();
    });
    const double cpuBefore = processCpuSeconds();
    const double hidrawBefore = platform.readSeconds();
    auto threadsBefore = threadFigures();
    const auto wallBefore = std::chrono::steady_clock::now();
    while (!done) // a quit posted late by the first phase may end a loop early
        loop.exec();
    auto threadsAfter = threadFigures();
    const double hidraw = platform.readSeconds() - hidrawBefore;
    feeder.join();
    reader.join();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double bridgeCpu = processCpuSeconds() - cpuBefore - feederCpu - readerCpu;
    std::printf("rate: %llu of %llu bytes, %s, %.1f s, reports dropped %llu, feeder late %llu "
                "times; reader waits %llu, reads held back %llu\n",
                (unsigned long long)received.load(), (unsigned long long)total,
                inOrder ? "in order" : "OUT OF ORDER", wall,
                (unsigned long long)platform.DroppedInputReports(platform.IdOf(firmware)),
                (unsigned long long)feederLate, (unsigned long long)port.readerWaits(),
                (unsigned long long)port.readerPauses());
    auto percent = [&](double seconds) { return 100.0 * seconds / wall; };
    auto part = [&](const char* name) {
        return ThreadFigures{threadsAfter[name].seconds - threadsBefore[name].seconds,
                             threadsAfter[name].wakeUps - threadsBefore[name].wakeUps};
    };
    const ThreadFigures mainThread = part("main");
    const ThreadFigures readThread = part("bridge-read");
    const ThreadFigures writeThread = part("bridge-write");
    std::printf("bridge CPU %.2f%% of a core; without the emulated hidraw's reads %.2f%%\n",
                percent(bridgeCpu), percent(bridgeCpu - hidraw));
    std::printf("  main thread (pump, pty writes) %.2f%%, %.0f wake-ups/s\n"
                "  adapter reader %.2f%%, %.0f wake-ups/s (of it the emulated hidraw's reads "
                "%.2f%%)\n"
                "  adapter writer %.2f%%, %.0f wake-ups/s\n",
                percent(mainThread.seconds), double(mainThread.wakeUps) / wall,
                percent(readThread.seconds), double(readThread.wakeUps) / wall, percent(hidraw),
                percent(writeThread.seconds), double(writeThread.wakeUps) / wall);

    // Round trip: one byte out through the link and back through the looped-back adapter.
    firmware.SetLoopback(true);
    std::vector<double> micros;
    std::atomic<bool> tripsDone{false};
    std::thread tripper([&] {
        std::uint8_t b = 0;
        for (int i = 0; i < roundTrips; ++i) {
            const auto start = std::chrono::steady_clock::now();
            b = static_cast<std::uint8_t>(i);
            if (::write(client, &b, 1) != 1)
                break;
            pollfd p{client, POLLIN, 0};
            std::uint8_t back = 0;
            if (::poll(&p, 1, 10000) <= 0 || ::read(client, &back, 1) != 1 || back != b)
                break;
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        tripsDone = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    while (!tripsDone)
        loop.exec();
    tripper.join();
    std::sort(micros.begin(), micros.end());
    if (micros.size() != std::size_t(roundTrips)) {
        std::printf("round trip: only %zu of %d came back\n", micros.size(), roundTrips);
        return 1;
    }
    std::printf("round trip through pty, bridge and emulated adapter: median %.0f us, "
                "99th percentile %.0f us (%d trips)\n",
                micros[micros.size() / 2], micros[micros.size() * 99 / 100], roundTrips);
    ::close(client);
    port.stop();
    adapter.Disconnect();
    return received == total && inOrder ? 0 : 1;
}
