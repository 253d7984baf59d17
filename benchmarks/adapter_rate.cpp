// A real adapter's full rate into the real terminal window (offscreen): one 64-byte input report
// a millisecond through the emulated adapter (hidraw-like queue that drops when full), for some
// seconds per case. Figures: CPU time of the window's thread per second, how often it was woken
// to take received data and how often the view painted, and that every byte arrived.
//
//   adapter_rate           10 s per case
//   adapter_rate --smoke   1 s per case (CI)

#include "emulator/EmulatedHidPlatform.h"
#include "resources/TerminalMenuItems.h"
#include "tests/support/BenchmarkWindow.h"
#include "tests/support/TimedApplication.h"

#include <QAbstractButton>
#include <QAction>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t ReportBytes = 64;

struct Case {
    const char* name;
    bool hex;
    std::vector<int> options; // menu items chosen before connecting
};

// Counts the paints of the receive view.
class PaintCounter : public QObject {
public:
    qint64 paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// Injects one report a millisecond on absolute deadlines, so a late wake-up catches up instead
// of lowering the rate; the text is that of a busy target, 78 characters and CR LF per line.
void feed(AdapterFirmware& adapter, qint64 reports, std::atomic<qint64>& sent) {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    std::uint8_t report[ReportBytes];
    qint64 offset = 0;
    for (qint64 r = 0; r < reports; ++r) {
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        for (std::size_t i = 0; i < ReportBytes; ++i, ++offset) {
            const qint64 column = offset % 80;
            report[i] = column == 78   ? '\r'
                        : column == 79 ? '\n'
                                       : std::uint8_t(0x20 + offset % 95);
        }
        adapter.InjectUartInput(report, ReportBytes);
        sent += qint64(ReportBytes);
    }
}

int runCase(TimedApplication& app, const Case& c, int seconds) {
    EmulatedHidPlatform platform;
    AdapterFirmware& adapter = BenchmarkWindow::addQuietAdapter(platform);
    BenchmarkWindow bench(platform);
    CWendrakeTerminalDlg& window = bench.window;
    ReceiveView* view = bench.view();
    PaintCounter painted;
    view->viewport()->installEventFilter(&painted);
    if (c.hex)
        bench.button(TerminalControl::HexFormat)->click();
    for (int item : c.options)
        window.MenuAction(item)->trigger();
    if (!bench.connect()) {
        std::printf("%-26s could not connect to the emulated adapter\n", c.name);
        return 1;
    }
    QApplication::processEvents();
    const ReceiveThread& receiver = window.Session().Receiver();

    const qint64 reports = qint64(seconds) * 1000;
    std::atomic<qint64> sent{0};
    app.resetFigures();
    app.measuring = true;
    const std::uint64_t wakesBefore = receiver.deliveryCount();
    const qint64 paintsBefore = painted.paints;
    const qint64 cpuBefore = TimedApplication::threadCpuNs();
    QElapsedTimer clock;
    clock.start();
    std::thread feeder([&] { feed(adapter, reports, sent); });
    // The window's thread does what it does in the product: it waits for events.
    while (sent < reports * qint64(ReportBytes))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 wallNs = clock.nsecsElapsed();
    const qint64 cpuNs = TimedApplication::threadCpuNs() - cpuBefore;
    const std::uint64_t wakes = receiver.deliveryCount() - wakesBefore;
    const qint64 paints = painted.paints - paintsBefore;
    const qint64 events = app.events;
    app.measuring = false;
    feeder.join();

    // The last reports still on their way.
    QElapsedTimer drain;
    drain.start();
    while (window.ReceivedData().byteCount() < sent && drain.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    const qint64 received = window.ReceivedData().byteCount();
    const std::uint64_t dropped = platform.DroppedInputReports(0);

    const double secondsMeasured = double(wallNs) / 1e9;
    std::printf("%-26s %6.1f s  %7.2f %%  %8.1f /s  %8.1f /s  %8.1f /s  %8.2f ms  %9lld B  %s\n",
                c.name, secondsMeasured, 100.0 * double(cpuNs) / double(wallNs),
                double(wakes) / secondsMeasured, double(paints) / secondsMeasured,
                double(events) / secondsMeasured, ms(app.longestEventCpuNs),
                static_cast<long long>(received),
                received == sent && dropped == 0 ? "all in order" : "LOST");
    std::fflush(stdout);
    bench.button(TerminalControl::Connect)->click();
    return received == sent && dropped == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int seconds = smoke ? 1 : 10;
    BenchmarkWindow::useOffscreenUnlessTold();
    TimedApplication app(argc, argv);

    namespace Menu = TerminalMenuItem;
    const Case cases[] = {
        {"ASCII (defaults)", false, {}},
        {"Hex", true, {}},
        {"ASCII, timestamps", false, {Menu::ShowTimestamps}},
        {"Hex dump, timestamps", true, {Menu::HexDumpLayout, Menu::ShowTimestamps}},
    };
    std::printf("One 64-byte report a millisecond into the terminal window (%s, %d s per case)\n",
                smoke ? "smoke" : "full", seconds);
    std::printf("targets: window thread under 2 %% of one core, woken at most about once a frame "
                "(%d ms) for received data\n",
                ReceiveThread::FrameIntervalMs);
    std::printf("%-26s %8s  %9s  %11s  %11s  %11s  %11s  %11s\n", "case", "time", "CPU",
                "data wakes", "paints", "all events", "longest", "received");
    std::fflush(stdout);
    int failures = 0;
    for (const Case& c : cases)
        failures += runCase(app, c, seconds);
    std::printf(
        "CPU: CPU time of the window's thread per wall second, in %% of one core; data wakes:\n"
        "  hand-overs of received data to the window's thread; paints: of the receive view;\n"
        "  all events: every event the window's thread handled (wakes, paints, timers, the pin\n"
        "  poll); longest: the longest of them in CPU time; received: bytes in the window, with\n"
        "  none dropped by the adapter's queue\n");
    return failures == 0 ? 0 : 1;
}
