// Received data into the real terminal window (offscreen) through the emulated adapter, in ASCII
// and Hex Format, with and without line breaks: sustained rate, the longest hold of the window's
// thread, format switch and Clear times, and resident memory per received byte.
//
//   receive_view           50 MB per case
//   receive_view --smoke   1 MB per case (CI)
//
// Each case runs in a process of its own, so that memory freed by one case does not flatter the
// next one's figure.

#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/BenchmarkWindow.h"
#include "tests/support/TimedApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr double Megabyte = 1e6;
// A case that has not received everything by then counts as failed (bytes lost or stuck).
constexpr qint64 CaseTimeoutMs = 300000;

struct Case {
    const char* name;
    bool hex;
    bool lineBreaks;
};

const Case Cases[] = {
    {"ascii-lines", false, true},
    {"ascii-nolines", false, false},
    {"hex-lines", true, true},
    {"hex-nolines", true, false},
};

// The bytes a busy target prints: 78 characters and CR LF, or one endless line.
class Source {
public:
    Source(std::uint64_t total, bool lineBreaks) : m_total(total), m_lineBreaks(lineBreaks) {}

    std::atomic<bool> running{false};

    std::size_t produce(std::uint8_t* out, std::size_t capacity) {
        if (!running.load(std::memory_order_acquire))
            return 0;
        std::size_t n = 0;
        for (; n < capacity && m_sent < m_total; ++n, ++m_sent) {
            const std::uint64_t column = m_sent % 80;
            if (m_lineBreaks && column == 78)
                out[n] = '\r';
            else if (m_lineBreaks && column == 79)
                out[n] = '\n';
            else
                out[n] = std::uint8_t(0x20 + m_sent % 95);
        }
        return n;
    }

private:
    std::uint64_t m_total;
    bool m_lineBreaks;
    std::uint64_t m_sent = 0;
};

int runCase(int argc, char** argv, const Case& c, std::uint64_t total) {
    BenchmarkWindow::useOffscreenUnlessTold();
    TimedApplication app(argc, argv);

    EmulatedHidPlatform platform;
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    AdapterFirmware& adapter = BenchmarkWindow::addQuietAdapter(platform);
    Source source(total, c.lineBreaks);
    adapter.SetUartSource([&source](std::uint8_t* out, std::size_t capacity) {
        return source.produce(out, capacity);
    });

    BenchmarkWindow bench(platform);
    CWendrakeTerminalDlg& window = bench.window;
    QAbstractButton* ascii = bench.button(TerminalControl::AsciiFormat);
    QAbstractButton* hex = bench.button(TerminalControl::HexFormat);
    QAbstractButton* clear = bench.button(TerminalControl::ClearReceiveData);
    if (c.hex)
        hex->click();
    if (!bench.connect()) {
        std::printf("%-14s could not connect to the emulated adapter\n", c.name);
        return 1;
    }
    QApplication::processEvents();
    const qint64 residentBefore = TimedApplication::residentBytes();

    // Streams until every byte is in the window.
    QElapsedTimer clock;
    clock.start();
    app.measuring = true;
    source.running = true;
    // An empty injection makes the adapter look at its source again.
    adapter.InjectUartInput(std::string_view());
    while (std::uint64_t(window.ReceivedData().byteCount()) < total &&
           clock.elapsed() < CaseTimeoutMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 streamNs = clock.nsecsElapsed();
    bench.paintNow();
    app.measuring = false;
    const qint64 residentAfter = TimedApplication::residentBytes();
    const auto received = std::uint64_t(window.ReceivedData().byteCount());

    // A format switch each way and a Clear, each with the repaint that follows it.
    const auto timed = [&](QAbstractButton* button) {
        const qint64 start = TimedApplication::threadCpuNs();
        button->click();
        bench.paintNow();
        return TimedApplication::threadCpuNs() - start;
    };
    const qint64 switchNs = std::max(timed(c.hex ? ascii : hex), timed(c.hex ? hex : ascii));
    bench.button(TerminalControl::Connect)->click();
    const qint64 clearNs = timed(clear);

    const double perByte = received ? double(residentAfter - residentBefore) / double(received) : 0;
    std::printf("%-14s %7.1f MB  %8.1f MB/s  %8.2f ms  %8.2f ms  %8.2f ms  %8.2f ms  %8.2f ms  "
                "%6.2f B\n",
                c.name, double(received) / Megabyte,
                double(received) / Megabyte / (double(streamNs) / 1e9),
                ms(app.longestDeliveryCpuNs), ms(app.longestEventCpuNs), ms(switchNs), ms(clearNs),
                ms(app.longestDeliveryWallNs), perByte);
    std::fflush(stdout);
    if (received != total) {
        std::printf("%-14s received %llu of %llu bytes\n", c.name, (unsigned long long)received,
                    (unsigned long long)total);
        return 1;
    }
    return 0;
}

int runChild(const char* self, const char* caseName, std::uint64_t total) {
    const std::string bytes = std::to_string(total);
    std::vector<char*> args = {const_cast<char*>(self), const_cast<char*>("--case"),
                               const_cast<char*>(caseName), const_cast<char*>(bytes.c_str()),
                               nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args.data(), environ) != 0)
        return 1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--case") == 0) {
        for (const Case& c : Cases)
            if (std::strcmp(c.name, argv[2]) == 0)
                return runCase(1, argv, c, std::strtoull(argv[3], nullptr, 10));
        return 2;
    }
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const std::uint64_t total = smoke ? 1000000 : 50000000;

    std::printf("Received data into the terminal window through the emulated adapter (%s)\n",
                smoke ? "smoke" : "full");
    std::printf("targets: >= 5 MB/s, no append, switch or Clear over 16 ms, <= 5 B per byte\n");
    std::printf("%-14s %10s  %13s  %11s  %11s  %11s  %11s  %11s  %8s\n", "case", "received", "rate",
                "delivery", "any event", "switch", "clear", "(wall)", "memory");
    std::fflush(stdout);
    int failures = 0;
    for (const Case& c : Cases)
        failures += runChild(argv[0], c.name, total) != 0;
    std::printf(
        "delivery: longest hand-over of reads to the window (one or more appends), in CPU time of\n"
        "  the window's thread; any event: the longest event of any kind while receiving;\n"
        "  switch, clear: the command and the repaint after it; (wall): the longest delivery in\n"
        "  wall time, which includes time the thread waited for a core on a busy machine;\n"
        "memory: resident bytes added per received byte (stored bytes, view, queues)\n");
    return failures == 0 ? 0 : 1;
}
