// UART stream throughput over an emulated looped-back adapter: a writer thread pushes one buffer
// through WriteUart while a reader thread collects it with ReadUart and checks every byte in
// order. Also measures how soon a blocked ReadUart returns after StopReadUart.
//
//   uart_throughput [--smoke] [--mb N]

#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::uint8_t expectedByte(std::uint64_t position) {
    // Not a multiple of the chunk size, so a lost, repeated or swapped report shows.
    return static_cast<std::uint8_t>((position * 131 + position / 251) & 0xFF);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct StreamResult {
    bool ok = true;
    double writeSeconds = 0;
    double readSeconds = 0;
    std::uint64_t readCalls = 0;
    std::uint32_t progress = 0;
};

StreamResult runStream(CWendrake& wendrake, std::uint32_t total) {
    std::vector<std::uint8_t> data(total);
    for (std::uint32_t i = 0; i < total; ++i)
        data[i] = expectedByte(i);

    StreamResult result;
    std::atomic<std::uint32_t> progress{0};
    std::atomic<bool> readerFailed{false};
    const Clock::time_point start = Clock::now();

    std::thread reader([&] {
        std::vector<std::uint8_t> destination(wendrake.GetReceiveBufferSize());
        std::uint64_t received = 0;
        while (received < total) {
            std::uint16_t count = 0;
            const WendrakeStatus status = wendrake.ReadUart(
                destination.data(), static_cast<std::uint32_t>(destination.size()), &count);
            ++result.readCalls;
            if (status != WendrakeOk) {
                std::fprintf(stderr, "ReadUart failed with status %d\n", status);
                readerFailed = true;
                wendrake.StopWriteUart(); // a flow-controlled writer would wait for us forever
                return;
            }
            for (std::uint16_t i = 0; i < count; ++i, ++received) {
                if (received >= total || destination[i] != expectedByte(received)) {
                    std::fprintf(stderr, "byte %llu differs\n",
                                 static_cast<unsigned long long>(received));
                    readerFailed = true;
                    wendrake.StopWriteUart();
                    return;
                }
            }
        }
        result.readSeconds = seconds(Clock::now() - start);
    });

    std::thread writer([&] {
        if (wendrake.WriteUart(data.data(), total, &progress) != WendrakeOk)
            std::fprintf(stderr, "WriteUart failed after %u bytes\n", progress.load());
        result.writeSeconds = seconds(Clock::now() - start);
    });

    writer.join();
    if (progress != total) {
        // The reader would wait for bytes that never come.
        wendrake.StopReadUart();
        result.ok = false;
    }
    reader.join();
    result.progress = progress;
    result.ok = result.ok && !readerFailed;
    return result;
}

// Time from StopReadUart until the blocked ReadUart has returned, median of several.
double medianStopLatencyMs(CWendrake& wendrake, EmulatedHidPlatform& platform, int rounds) {
    std::vector<double> samples;
    std::vector<std::uint8_t> destination(wendrake.GetReceiveBufferSize());
    for (int round = 0; round < rounds; ++round) {
        std::atomic<bool> returned{false};
        Clock::time_point returnedAt;
        std::thread reader([&] {
            std::uint16_t count = 0;
            wendrake.ReadUart(destination.data(), static_cast<std::uint32_t>(destination.size()),
                              &count);
            returnedAt = Clock::now();
            returned = true;
        });
        if (!platform.WaitForPendingReads(1, std::chrono::seconds(5))) {
            std::fprintf(stderr, "the read never blocked\n");
            wendrake.StopReadUart();
            reader.join();
            return -1;
        }
        const Clock::time_point stoppedAt = Clock::now();
        wendrake.StopReadUart();
        reader.join();
        samples.push_back(
            std::chrono::duration<double, std::milli>(returnedAt - stoppedAt).count());
        wendrake.ResumeReadUart();
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::uint32_t megabytes = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            megabytes = 1;
        else if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc)
            megabytes = static_cast<std::uint32_t>(std::max(1, std::atoi(argv[++i])));
    }
    const std::uint32_t total = std::min<std::uint32_t>(megabytes, 4000) * 1024u * 1024u;

    EmulatedHidPlatform platform;
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    platform.SetWireRecording(false);
    AdapterFirmware& adapter = platform.AddAdapter("BENCH0001");
    adapter.SetLoopback(true);
    adapter.SetRecordUartOutput(false);

    CWendrake wendrake(platform);
    if (wendrake.Connect(0) != WendrakeOk || wendrake.EnableUart() != WendrakeOk) {
        std::fprintf(stderr, "could not connect to the emulated adapter\n");
        return 1;
    }

    const StreamResult stream = runStream(wendrake, total);
    const std::uint32_t chunk = wendrake.Device().OutputReportLength() - 1u;
    const std::uint64_t reports = (std::uint64_t{total} + chunk - 1) / chunk;
    const double mb = total / (1024.0 * 1024.0);

    std::printf("UART stream over emulated loopback, %.0f MB\n", mb);
    std::printf("  write: %8.1f MB/s  %llu output reports (%.3f s)\n",
                stream.writeSeconds > 0 ? mb / stream.writeSeconds : 0.0,
                static_cast<unsigned long long>(reports), stream.writeSeconds);
    std::printf("  read:  %8.1f MB/s  %llu input reports in %llu ReadUart calls (%.3f s)\n",
                stream.readSeconds > 0 ? mb / stream.readSeconds : 0.0,
                static_cast<unsigned long long>(reports),
                static_cast<unsigned long long>(stream.readCalls), stream.readSeconds);
    std::printf("  every byte in order: %s\n", stream.ok ? "yes" : "NO");

    const double stopMs = medianStopLatencyMs(wendrake, platform, 7);
    std::printf("  StopReadUart to return of a blocked ReadUart: %.3f ms (median of 7)\n", stopMs);

    const bool fastEnough = stream.writeSeconds > 0 && stream.readSeconds > 0 &&
                            mb / stream.writeSeconds >= 20 && mb / stream.readSeconds >= 20;
    std::printf("  target 20 MB/s each way: %s\n", fastEnough ? "met" : "not met");

    wendrake.DisableUart();
    wendrake.Disconnect();
    return stream.ok && stopMs >= 0 ? 0 : 1;
}
