// File send through the emulated adapter: the device layer's raw WriteUart rate (with the heap
// allocations it makes), then the whole path of the window's "Send File..." (file read, worker,
// progress window) with the progress window's tick regularity.
//
//   file_send           10 MB
//   file_send --smoke   1 MB (CI)

#include "connection/FileSender.h"
#include "device/CWendrake.h"
#include "dialogs/CProgressDlg.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/RecordingPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<bool> g_countAllocations{false};
std::atomic<std::uint64_t> g_allocations{0};

// Counts the output reports the device layer hands to the platform.
class CountingPlatform : public EmulatedHidPlatform {
public:
    std::atomic<std::uint64_t> reports{0};

    TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override {
        ++reports;
        return EmulatedHidPlatform::writeReport(handle, data, length, timeoutMs);
    }
};

// Records when each tick reaches the progress window.
class TickWatch : public QObject {
public:
    std::vector<qint64> ticksNs;
    QElapsedTimer clock;

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            ticksNs.push_back(clock.nsecsElapsed());
        return false;
    }
};

double megabytesPerSecond(std::uint64_t bytes, qint64 ns) {
    return ns > 0 ? (static_cast<double>(bytes) / 1e6) / (static_cast<double>(ns) / 1e9) : 0.0;
}

} // namespace

void* operator new(std::size_t size) {
    if (g_countAllocations.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const std::uint32_t size = smoke ? 1000u * 1000u : 10u * 1000u * 1000u;

    CountingPlatform platform;
    platform.SetWireRecording(false);
    AdapterFirmware& adapter = platform.AddAdapter("WD000001");
    adapter.SetRecordUartOutput(false);
    CWendrake wendrake(platform);
    if (wendrake.Connect(0) != WendrakeOk) {
        std::fprintf(stderr, "cannot connect to the emulated adapter\n");
        return 1;
    }

    std::vector<std::uint8_t> data(size);
    for (std::uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + 7);

    // 1. The device layer alone.
    {
        std::atomic<std::uint32_t> progress{0};
        platform.reports = 0;
        QElapsedTimer timer;
        timer.start();
        g_allocations = 0;
        g_countAllocations = true;
        const WendrakeStatus status = wendrake.WriteUart(data.data(), size, &progress);
        g_countAllocations = false;
        const qint64 ns = timer.nsecsElapsed();
        if (status != WendrakeOk || progress != size) {
            std::fprintf(stderr, "WriteUart failed (status %d, %u bytes)\n", status,
                         progress.load());
            return 1;
        }
        std::printf("WriteUart     %8.1f MB/s  %u bytes  %llu reports  %llu heap allocations\n",
                    megabytesPerSecond(size, ns), size,
                    static_cast<unsigned long long>(platform.reports.load()),
                    static_cast<unsigned long long>(g_allocations.load()));
    }

    // 2. "Send File...": read the file, worker, modal progress window.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("send.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(data.data()), size) != size) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    FileSender sender(wendrake);
    RecordingPrompts prompts;
    platform.reports = 0;
    QElapsedTimer timer;
    timer.start();
    if (sender.Open(path) != FileSender::OpenResult::Ok) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const qint64 readNs = timer.nsecsElapsed();
    CProgressDlg dialog(&sender.Progress(), sender.Length(), prompts);
    TickWatch watch;
    dialog.installEventFilter(&watch);
    watch.clock.start();
    sender.Start();
    const int result = dialog.exec();
    const qint64 totalNs = timer.nsecsElapsed();
    sender.Finish();

    // The transfer as the window saw it: from the worker's start to the tick that found the
    // counter at the total.
    const qint64 sendNs = watch.ticksNs.empty() ? 0 : watch.ticksNs.back();
    qint64 largestGapNs = watch.ticksNs.empty() ? 0 : watch.ticksNs.front();
    for (std::size_t i = 1; i < watch.ticksNs.size(); ++i)
        largestGapNs = std::max(largestGapNs, watch.ticksNs[i] - watch.ticksNs[i - 1]);
    std::printf("Send File     %8.1f MB/s  %u bytes  %llu reports  (read %.1f ms, send %.1f ms, "
                "whole command %.1f ms)\n",
                megabytesPerSecond(size, sendNs), size,
                static_cast<unsigned long long>(platform.reports.load()),
                static_cast<double>(readNs) / 1e6, static_cast<double>(sendNs) / 1e6,
                static_cast<double>(totalNs) / 1e6);
    std::printf("Progress tick %zu ticks at %d ms, largest gap %.1f ms (first tick included)\n",
                watch.ticksNs.size(), CProgressDlg::TickMs,
                static_cast<double>(largestGapNs) / 1e6);
    if (result != QDialog::Accepted || prompts.Prompts.size() != 1 ||
        prompts.Prompts[0].Text != QStringLiteral("File transferred successfully")) {
        std::fprintf(stderr, "the transfer did not end as complete\n");
        return 1;
    }
    return 0;
}
