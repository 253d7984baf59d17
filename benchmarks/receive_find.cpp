// Find over a large received text in the real terminal window (offscreen): each step from the
// command (Next or Previous, text or hex bytes, ASCII or Hex Format) to the match selected and
// painted, or to "Not found" after the whole text; the longest hold of the window's thread
// while a search runs, and the memory the stored text takes.
//
//   receive_find           1 GB received (10^9 bytes)
//   receive_find --smoke   32 MB (CI)
//
// The text is that of a busy target (78 printable characters and CR LF per line); one needle
// lies 1000 bytes after the start, another 1000 bytes before the end, a third nowhere. From the
// caret at the far end, every step below searches (nearly) the whole text.

#include "emulator/EmulatedHidPlatform.h"
#include "receiveview/ReceiveFindBar.h"
#include "tests/support/BenchmarkWindow.h"
#include "tests/support/TimedApplication.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr qint64 ChunkBytes = qint64(1) << 20;
constexpr qint64 NeedleMargin = 1000;
const char NeedleAtStart[] = "Needle-A1";
const char NeedleAtEnd[] = "Needle-B1";
const char NeedleNowhere[] = "Needle-C1";

QString hexOf(const char* text) {
    return QString::fromLatin1(QByteArray(text).toHex(' ').toUpper());
}

// The bytes at [offset, offset + size) of the received text.
QByteArray chunkAt(qint64 offset, qint64 size, qint64 total) {
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        const qint64 at = offset + i;
        const qint64 column = at % 80;
        out[i] = column == 78 ? '\r' : column == 79 ? '\n' : char(0x20 + at % 95);
    }
    const auto place = [&](const char* needle, qint64 where) {
        for (qint64 k = 0; needle[k]; ++k)
            if (where + k >= offset && where + k < offset + size)
                out[where + k - offset] = needle[k];
    };
    place(NeedleAtStart, NeedleMargin);
    place(NeedleAtEnd, total - NeedleMargin);
    return out;
}

struct Case {
    const char* name;
    bool hexFormat;
    bool hexBytes;
    bool next;
    const char* needle;
    qint64 expected; // first byte of the match; -1: not found
};

} // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const qint64 total = smoke ? qint64(32) << 20 : qint64(1000000000);
    const int runs = smoke ? 1 : 3;
    BenchmarkWindow::useOffscreenUnlessTold();
    TimedApplication app(argc, argv);
    EmulatedHidPlatform platform;
    BenchmarkWindow bench(platform);
    CWendrakeTerminalDlg& window = bench.window;
    ReceiveView* view = bench.view();
    QAbstractButton* ascii = bench.button(TerminalControl::AsciiFormat);
    QAbstractButton* hex = bench.button(TerminalControl::HexFormat);
    ReceiveFindBar* bar = window.FindBar();
    QApplication::processEvents();

    std::printf("Find in received data, in the terminal window (%s)\n", smoke ? "smoke" : "full");
    std::fflush(stdout);
    const qint64 residentBefore = TimedApplication::residentBytes();
    QElapsedTimer fill;
    fill.start();
    for (qint64 offset = 0; offset < total; offset += ChunkBytes)
        window.AppendReceivedText(chunkAt(offset, std::min(ChunkBytes, total - offset), total),
                                  1700000000000 + offset / ChunkBytes);
    view->flushFrame();
    const qint64 fillNs = fill.nsecsElapsed();
    const qint64 residentAfter = TimedApplication::residentBytes();
    std::printf("received %.1f MB (appends and indexing %.2f s), resident memory %.2f B per byte\n",
                double(total) / 1e6, double(fillNs) / 1e9,
                double(residentAfter - residentBefore) / double(total));
    std::printf("target: each step well under 1 s; no event over one slice (%d ms) of searching\n",
                ReceiveFindBar::StepBudgetMs);
    std::printf("%-36s %10s %10s %8s %11s %11s  %s\n", "case (worst of runs)", "step", "(CPU)",
                "events", "longest", "(wall)", "result");

    const Case cases[] = {
        {"ASCII, text, Next: match at the end", false, false, true, NeedleAtEnd,
         total - NeedleMargin},
        {"ASCII, text, Previous: at the start", false, false, false, NeedleAtStart, NeedleMargin},
        {"ASCII, text, Next: not found", false, false, true, NeedleNowhere, -1},
        {"ASCII, text, Previous: not found", false, false, false, NeedleNowhere, -1},
        {"ASCII, hex bytes, Next: at the end", false, true, true, NeedleAtEnd,
         total - NeedleMargin},
        {"Hex, hex bytes, Next: at the end", true, true, true, NeedleAtEnd, total - NeedleMargin},
        {"Hex, hex bytes, Previous: at start", true, true, false, NeedleAtStart, NeedleMargin},
        {"Hex, text, Next: not found", true, false, true, NeedleNowhere, -1},
    };
    int failures = 0;
    bool finished = false;
    bool found = false;
    QObject::connect(bar, &ReceiveFindBar::searchFinished, [&](bool f) {
        finished = true;
        found = f;
    });
    for (const Case& c : cases) {
        (c.hexFormat ? hex : ascii)->click();
        view->flushFrame();
        bar->open();
        bar->hexBox()->setChecked(c.hexBytes);
        bar->textBox()->setText(c.hexBytes ? hexOf(c.needle) : QString::fromLatin1(c.needle));
        qint64 worstWall = 0;
        qint64 worstCpu = 0;
        qint64 worstEvents = 0;
        qint64 longestCpu = 0;
        qint64 longestWall = 0;
        bool right = true;
        for (int run = 0; run < runs; ++run) {
            // From the far end: Next from the first position, Previous from the last.
            view->setCaretPosition(c.next ? 0 : view->textLength());
            view->flushFrame();
            QApplication::processEvents();
            finished = false;
            app.resetFigures();
            QElapsedTimer wall;
            wall.start();
            const qint64 cpu = TimedApplication::threadCpuNs();
            // The command itself runs the first slice, as a key press in the bar would.
            app.measuring = true;
            if (c.next)
                bar->findNext();
            else
                bar->findPrevious();
            const qint64 commandCpu = TimedApplication::threadCpuNs() - cpu;
            const qint64 commandWall = wall.nsecsElapsed();
            while (!finished)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            bench.paintNow();
            app.measuring = false;
            worstWall = std::max(worstWall, wall.nsecsElapsed());
            worstCpu = std::max(worstCpu, TimedApplication::threadCpuNs() - cpu);
            worstEvents = std::max(worstEvents, app.events + 1);
            longestCpu = std::max({longestCpu, commandCpu, app.longestEventCpuNs});
            longestWall = std::max({longestWall, commandWall, app.longestEventWallNs});
            const qint64 at = found ? view->byteOfPosition(view->selectionStart()) : -1;
            right = right && at == c.expected;
        }
        std::printf("%-36s %7.1f ms %7.1f ms %8lld %8.2f ms %8.2f ms  %s\n", c.name, ms(worstWall),
                    ms(worstCpu), static_cast<long long>(worstEvents), ms(longestCpu),
                    ms(longestWall),
                    !right           ? "WRONG MATCH"
                    : c.expected < 0 ? "not found"
                                     : "found");
        std::fflush(stdout);
        failures += !right;
    }
    std::printf(
        "step: from the command to the match selected and painted (wall time; CPU: the window's\n"
        "  thread); events: events the window's thread handled meanwhile, each a slice of the\n"
        "  search or anything else that came; longest: the longest of them, the command itself\n"
        "  included, in CPU time and (wall) in wall time, which includes time the thread waited\n"
        "  for a core on a busy machine\n");
    return failures == 0 ? 0 : 1;
}
