#pragma once

#include "device/platform/HidPlatform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Runs a device's blocking report writes on a thread of its own, so that a caller can give up on
// a time-out or a cancel while a write the driver will not let go of finishes in the background:
// usbhid holds write() until the adapter took the report or its own time-out of seconds passed,
// and nothing from user space ends that wait. One write at a time and in order: a write first
// waits for the one before it, also for one whose caller gave up. The thread starts with the
// first write; what a write needs stays alive (keepAlive) until it has left the driver.
class ReportWriter {
public:
    // The blocking write itself: one whole report, its outcome as the platform reports it.
    using BlockingWrite = std::function<TransferOutcome(const std::uint8_t*, std::size_t)>;

    ReportWriter();
    // Lets the thread end once it is idle; a write still in the driver finishes first, on its
    // own, with its keepAlive.
    ~ReportWriter();

    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // Hands a copy of the report to the thread and waits for its outcome, at most timeoutMs
    // (HidInfiniteTimeout: no limit): TimedOut when the time passed first, Completed at once
    // when cancelled (nothing is known to have gone out), Failed when no thread can be started.
    TransferOutcome write(std::shared_ptr<void> keepAlive, BlockingWrite blockingWrite,
                          const std::uint8_t* data, std::size_t length, std::uint32_t timeoutMs);

    // Ends a waiting write at once, and every later one, until resetCancel. Any thread.
    void cancel();
    void resetCancel();
    // A write has been handed over and has not left the driver yet.
    bool busy() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
