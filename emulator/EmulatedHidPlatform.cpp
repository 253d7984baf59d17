#include "emulator/EmulatedHidPlatform.h"

#include <algorithm>
#include <cstring>

namespace {

std::chrono::steady_clock::time_point deadlineAfter(std::uint32_t timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Waits for done() on cv, counting the waiter; false when the time-out passed first.
template <class Done>
bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::size_t& waiters,
             std::uint32_t timeoutMs, std::chrono::steady_clock::time_point deadline, Done done) {
    ++waiters;
    bool reached = true;
    if (timeoutMs == HidInfiniteTimeout)
        cv.wait(lock, done);
    else
        reached = cv.wait_until(lock, deadline, done);
    --waiters;
    return reached;
}

} // namespace

EmulatedHidPlatform::~EmulatedHidPlatform() {
    {
        // A handed-over write still waiting in the emulated kernel runs on platform code.
        std::unique_lock lock(m_mutex);
        m_stallWrites = false;
        m_writeCv.notify_all();
        m_writeCv.wait(lock, [this] { return m_writesInKernel == 0; });
    }
    detachFirmware();
}

// ---- HidPlatform ----

bool EmulatedHidPlatform::getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    return featureTransfer(handle, buffer, buffer, length, true);
}

bool EmulatedHidPlatform::setFeature(HidHandle handle, const std::uint8_t* buffer,
                                     std::size_t length) {
    return featureTransfer(handle, nullptr, buffer, length, false);
}

bool EmulatedHidPlatform::featureTransfer(HidHandle handle, std::uint8_t* buffer,
                                          const std::uint8_t* source, std::size_t length,
                                          bool get) {
    if (source == nullptr || length == 0)
        return false;
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    Device& device = *deviceLocked(open->device);
    const bool injected =
        takeFault(m_featureFaults, ++m_featureCount) || m_failingFeatureIds.count(source[0]) != 0;
    bool ok = false;
    if (!injected && device.firmware)
        ok = get ? device.firmware->GetFeature(buffer, length)
                 : device.firmware->SetFeature(source, length);
    m_wire.Add(get ? WireRecord::Kind::FeatureGet : WireRecord::Kind::FeatureSet, device.id, source,
               length, ok);
    return ok;
}

TransferOutcome EmulatedHidPlatform::writeReport(HidHandle handle, const std::uint8_t* data,
                                                 std::size_t length, std::uint32_t timeoutMs) {
    std::shared_ptr<OpenHandle> handedOff;
    {
        std::lock_guard lock(m_mutex);
        if (m_writesIgnoreCancel && data != nullptr)
            handedOff = handleLocked(handle);
    }
    if (handedOff) {
        OpenHandle* open = handedOff.get();
        return open->writer.write(
            std::move(handedOff),
            [this, open](const std::uint8_t* report, std::size_t size) {
                return kernelWrite(*open, report, size);
            },
            data, length, timeoutMs);
    }
    const auto deadline = deadlineAfter(timeoutMs == HidInfiniteTimeout ? 0 : timeoutMs);
    std::unique_lock lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open || data == nullptr)
        return TransferOutcome::Failed;
    Device& device = *deviceLocked(open->device);
    if (writeRefusedLocked(device, data, length))
        return TransferOutcome::Failed;

    auto interrupted = [&] { return open->cancelWrite || open->dead || open->closed; };
    if (!waitForWriteRoomLocked(lock, *device.firmware, timeoutMs, deadline, interrupted))
        return TransferOutcome::TimedOut;
    // Like hidraw: a report still waiting when the adapter went never left, which is a failure.
    if (open->dead)
        return TransferOutcome::Failed;
    // Cancelled or closed: the pending write completes without reaching the adapter.
    if (interrupted())
        return TransferOutcome::Completed;
    sendLocked(device, data, length);
    return TransferOutcome::Completed;
}

template <class Interrupted>
bool EmulatedHidPlatform::waitForWriteRoomLocked(std::unique_lock<std::mutex>& lock,
                                                 AdapterFirmware& firmware, std::uint32_t timeoutMs,
                                                 std::chrono::steady_clock::time_point deadline,
                                                 Interrupted interrupted) {
    // A looped-back adapter with a full backlog holds the report back, as a busy endpoint would.
    auto backlogFull = [&] {
        return m_pacing == InputPacing::FlowControlled && firmware.Loopback() &&
               firmware.PendingInputReports() >= LoopbackBacklogLimit;
    };
    auto roomOrInterrupted = [&] { return interrupted() || (!m_stallWrites && !backlogFull()); };
    if (roomOrInterrupted())
        return true;
    if (m_pendingWatchers > 0)
        m_pendingCv.notify_all();
    return waitFor(lock, m_writeCv, m_writeWaiters, timeoutMs, deadline, roomOrInterrupted);
}

// The report goes out to the adapter; what it answers at once is queued for the handle.
void EmulatedHidPlatform::sendLocked(Device& device, const std::uint8_t* data, std::size_t length) {
    m_wire.Add(WireRecord::Kind::OutputReport, device.id, data, length, true);
    if (device.firmware->WriteOutputReport(data, length) > 0)
        pumpLocked(device);
}

// An injected fault (recorded as a report that failed) or a report the adapter cannot take.
bool EmulatedHidPlatform::writeRefusedLocked(Device& device, const std::uint8_t* data,
                                             std::size_t length) {
    if (takeFault(m_writeFaults, ++m_writeCount)) {
        m_wire.Add(WireRecord::Kind::OutputReport, device.id, data, length, false);
        return true;
    }
    return !device.firmware || length == 0 || length > device.caps.OutputReportLength;
}

TransferOutcome EmulatedHidPlatform::kernelWrite(OpenHandle& open, const std::uint8_t* data,
                                                 std::size_t length) {
    std::unique_lock lock(m_mutex);
    // Queued behind a write that outlived its handle: nothing goes out any more.
    if (open.closed)
        return TransferOutcome::Completed;
    if (open.dead)
        return TransferOutcome::Failed;
    Device& device = *deviceLocked(open.device);
    if (writeRefusedLocked(device, data, length))
        return TransferOutcome::Failed;
    ++open.inKernel;
    ++m_writesInKernel;
    // No cancel, no time-out, no close: only the adapter taking it or an unplug end it.
    waitForWriteRoomLocked(lock, *device.firmware, HidInfiniteTimeout, {},
                           [&] { return open.dead; });
    TransferOutcome outcome = TransferOutcome::Completed;
    if (open.dead)
        outcome = TransferOutcome::Failed;
    else
        sendLocked(device, data, length);
    --open.inKernel;
    --m_writesInKernel;
    if (open.closed && open.inKernel == 0 && device.open.get() == &open)
        device.open.reset();
    m_writeCv.notify_all();
    return outcome;
}

TransferOutcome EmulatedHidPlatform::readReports(HidHandle handle, std::uint8_t* buffer,
                                                 std::size_t length, std::uint32_t timeoutMs,
                                                 std::size_t& bytesRead) {
    const auto deadline = deadlineAfter(timeoutMs == HidInfiniteTimeout ? 0 : timeoutMs);
    std::unique_lock lock(m_mutex);
    // Unlike the other calls, reads go on after an unplug: what was queued is still handed out.
    const auto open = anyHandleLocked(handle);
    if (!open || open->closed || buffer == nullptr)
        return TransferOutcome::Failed;
    // Only a read already waiting at the unplug ends empty; a later one gets what is still
    // queued, or fails at once.
    const bool deadAtStart = open->dead;
    Device& device = *deviceLocked(open->device);
    if (takeFault(m_readFaults, ++m_readCount))
        return TransferOutcome::Failed;
    const std::size_t slot = device.caps.InputReportLength;
    if (slot == 0 || length < slot)
        return TransferOutcome::Failed;

    auto interrupted = [&] { return open->cancelRead || open->dead || open->closed; };
    if (!interrupted()) {
        pumpLocked(device);
        if (open->queue.empty()) {
            if (m_pendingWatchers > 0)
                m_pendingCv.notify_all();
            const bool reached = waitFor(lock, m_readCv, m_readWaiters, timeoutMs, deadline,
                                         [&] { return interrupted() || !open->queue.empty(); });
            if (!reached)
                return TransferOutcome::TimedOut;
        }
    }
    // A cancel (or a close) wins over queued reports, as the cancel event does on hidraw.
    if (open->cancelRead || open->closed) {
        bytesRead = 0;
        return TransferOutcome::Completed;
    }
    // Unplugged with nothing left: the read the unplug woke completes empty.
    if (open->queue.empty()) {
        if (deadAtStart)
            return TransferOutcome::Failed;
        bytesRead = 0;
        return TransferOutcome::Completed;
    }

    const std::size_t count = std::min(open->queue.size(), length / slot);
    const std::size_t copied = std::min(slot, AdapterFirmware::InputReportLength);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* out = buffer + i * slot;
        std::memcpy(out, open->queue.front(), copied);
        if (slot > copied)
            std::memset(out + copied, 0, slot - copied);
        open->queue.pop();
        m_wire.Add(WireRecord::Kind::InputReport, device.id, out, slot, true);
    }
    bytesRead = count * slot;
    if (open->dead)
        return TransferOutcome::Completed;
    // Room again: let the adapter's backlog or source in, and wake writers held back by it.
    pumpLocked(device);
    if (m_writeWaiters > 0)
        m_writeCv.notify_all();
    return TransferOutcome::Completed;
}

bool EmulatedHidPlatform::flushInput(HidHandle handle) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    open->queue.clear();
    return true;
}

void EmulatedHidPlatform::cancel(HidHandle handle, TransferKind kind) {
    std::lock_guard lock(m_mutex);
    const auto open = anyHandleLocked(handle);
    if (!open)
        return;
    if (kind == TransferKind::Read) {
        open->cancelRead = true;
        m_readCv.notify_all();
    } else {
        open->cancelWrite = true;
        open->writer.cancel();
        m_writeCv.notify_all();
    }
}

void EmulatedHidPlatform::resetCancel(HidHandle handle, TransferKind kind) {
    std::lock_guard lock(m_mutex);
    const auto open = anyHandleLocked(handle);
    if (!open)
        return;
    if (kind == TransferKind::Read)
        open->cancelRead = false;
    else {
        open->cancelWrite = false;
        open->writer.resetCancel();
    }
}

// ---- Platform behaviour ----

void EmulatedHidPlatform::SetInputPacing(InputPacing pacing) {
    std::lock_guard lock(m_mutex);
    m_pacing = pacing;
    m_writeCv.notify_all();
}

// ---- Fault injection ----

void EmulatedHidPlatform::FailNthFeatureTransfer(unsigned n) {
    planFault(m_featureFaults, m_featureCount, n);
}

void EmulatedHidPlatform::FailFeatureReportId(std::uint8_t reportId, bool fail) {
    std::lock_guard lock(m_mutex);
    if (fail)
        m_failingFeatureIds.insert(reportId);
    else
        m_failingFeatureIds.erase(reportId);
}

void EmulatedHidPlatform::FailNthWrite(unsigned n) {
    planFault(m_writeFaults, m_writeCount, n);
}

void EmulatedHidPlatform::FailNthRead(unsigned n) {
    planFault(m_readFaults, m_readCount, n);
}

void EmulatedHidPlatform::StallWrites(bool stall) {
    std::lock_guard lock(m_mutex);
    m_stallWrites = stall;
    m_writeCv.notify_all();
}

void EmulatedHidPlatform::SetWritesIgnoreCancel(bool on) {
    std::lock_guard lock(m_mutex);
    m_writesIgnoreCancel = on;
}

std::size_t EmulatedHidPlatform::WritesInKernel() const {
    std::lock_guard lock(m_mutex);
    return m_writesInKernel;
}

void EmulatedHidPlatform::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_featureFaults.clear();
    m_writeFaults.clear();
    m_readFaults.clear();
    m_failingFeatureIds.clear();
    m_stallWrites = false;
    m_writeCv.notify_all();
}

void EmulatedHidPlatform::planFault(std::set<std::uint64_t>& faults, const std::uint64_t& count,
                                    unsigned n) {
    std::lock_guard lock(m_mutex);
    if (n > 0)
        faults.insert(count + n);
}

bool EmulatedHidPlatform::takeFault(std::set<std::uint64_t>& faults, std::uint64_t sequence) {
    return faults.erase(sequence) > 0;
}

// ---- Observation ----

std::vector<EmulatedHidPlatform::WireRecord> EmulatedHidPlatform::Wire() const {
    std::lock_guard lock(m_mutex);
    return m_wire.Records();
}

std::vector<std::string> EmulatedHidPlatform::WireSummary() const {
    std::lock_guard lock(m_mutex);
    return m_wire.Summary();
}

void EmulatedHidPlatform::ClearWire() {
    std::lock_guard lock(m_mutex);
    m_wire.Clear();
}

void EmulatedHidPlatform::SetWireRecording(bool on) {
    std::lock_guard lock(m_mutex);
    m_wire.SetRecording(on);
}

std::size_t EmulatedHidPlatform::PendingReads() const {
    std::lock_guard lock(m_mutex);
    return m_readWaiters;
}

std::size_t EmulatedHidPlatform::PendingWrites() const {
    std::lock_guard lock(m_mutex);
    return m_writeWaiters;
}

bool EmulatedHidPlatform::WaitForPendingReads(std::size_t n, std::chrono::milliseconds bound) {
    return waitForWaiters(m_readWaiters, n, bound);
}

bool EmulatedHidPlatform::WaitForPendingWrites(std::size_t n, std::chrono::milliseconds bound) {
    return waitForWaiters(m_writeWaiters, n, bound);
}

bool EmulatedHidPlatform::waitForWaiters(const std::size_t& waiters, std::size_t n,
                                         std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    ++m_pendingWatchers;
    const bool reached = m_pendingCv.wait_for(lock, bound, [&] { return waiters >= n; });
    --m_pendingWatchers;
    return reached;
}

// ---- Internals ----

void EmulatedHidPlatform::pumpLocked(Device& device) {
    if (!device.firmware)
        return;
    AdapterFirmware& firmware = *device.firmware;
    OpenHandle* open = device.open.get();
    if (open == nullptr) {
        // Nobody listening: hidraw keeps nothing for a closed device.
        if (m_pacing == InputPacing::Drop) {
            device.dropped += firmware.PendingInputReports();
            firmware.DiscardPendingInput();
        }
        return;
    }
    const std::size_t capacity = open->inputBufferCount;
    const std::size_t before = open->queue.size();
    std::uint8_t report[AdapterFirmware::InputReportLength];
    for (;;) {
        if (open->queue.size() >= capacity) {
            if (m_pacing == InputPacing::FlowControlled)
                break;
            // Like hidraw: a full queue drops the newest report.
            while (firmware.TakeInputReport(report, sizeof report))
                ++device.dropped;
            break;
        }
        if (!firmware.TakeInputReport(report, sizeof report)) {
            // The adapter has nothing waiting: ask a paced source for what fits.
            if (firmware.PullFromSource(capacity - open->queue.size()) == 0)
                break;
            continue;
        }
        open->queue.push(report, sizeof report);
    }
    // Readers only wait on an empty queue, so only the first report after that needs a wake.
    if (before == 0 && !open->queue.empty() && m_readWaiters > 0)
        m_readCv.notify_all();
}
