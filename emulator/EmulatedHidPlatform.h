#pragma once

#include "emulator/EmulatedDeviceTable.h"
#include "emulator/WireLog.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// In-process HID stack for tests and the demo: on top of the devices of EmulatedDeviceTable
// (emulated adapters, each an AdapterFirmware, and other HID interfaces), the report paths:
// hidraw-like bounded input queues, fault injection and a record of every report.
//
// Input pacing: in Drop mode (default, like hidraw) a report that finds the handle's queue full
// is dropped and counted. In FlowControlled mode reports wait inside the adapter until the queue
// has room, and output writes to a looped-back adapter block while its backlog is full, so
// nothing is lost. A byte source (AdapterFirmware::SetUartSource) is only pulled while the queue
// has room, in both modes. Benchmarks use FlowControlled and turn the wire record and the
// firmware's output record off. No transfer may still be blocked when the platform is destroyed.
class EmulatedHidPlatform : public EmulatedDeviceTable {
public:
    enum class InputPacing { Drop, FlowControlled };

    // One report on the wire, as the device layer exchanged it.
    using WireRecord = WireLog::Record;

    // Report writes to a looped-back adapter wait while this many reports are in its backlog
    // (FlowControlled mode only).
    static constexpr std::size_t LoopbackBacklogLimit = 64;

    EmulatedHidPlatform() = default;
    ~EmulatedHidPlatform() override;

    // ---- HidPlatform: the report paths ----
    bool getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    bool setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override;
    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override;
    bool flushInput(HidHandle handle) override;
    void cancel(HidHandle handle, TransferKind kind) override;
    void resetCancel(HidHandle handle, TransferKind kind) override;

    // ---- Platform behaviour ----

    void SetInputPacing(InputPacing pacing);

    // ---- Fault injection (n counts from now, 1 = the next one; platform-wide) ----

    // The n-th feature transfer (get or set) fails.
    void FailNthFeatureTransfer(unsigned n);
    // Every feature transfer with this report id fails while set.
    void FailFeatureReportId(std::uint8_t reportId, bool fail = true);
    // The n-th report write fails at once.
    void FailNthWrite(unsigned n);
    // The n-th read fails at once.
    void FailNthRead(unsigned n);
    // While on, report writes block until cancelled, unplugged, closed, timed out or released
    // (turning it off lets the blocked writes go through).
    void StallWrites(bool stall);
    // While on, report writes behave as usbhid's do under the hidraw platform: each is handed to
    // the handle's writer thread (as HidrawPlatform does), and there a stalled write ignores
    // cancels, time-outs and the close of its handle, the way the kernel's write() does; only
    // releasing the stall or an unplug (which fails it) ends it. A handle closed meanwhile keeps
    // its device open, exclusively, until that write has ended. Not cleared by ClearFaults.
    void SetWritesIgnoreCancel(bool on);
    // Handed-over writes still inside the emulated kernel, across all handles.
    std::size_t WritesInKernel() const;
    void ClearFaults();

    // ---- Observation ----

    // Every report exchanged, in order (while recording is on, the default).
    std::vector<WireRecord> Wire() const;
    // The record as short lines (see WireLog::Summary).
    std::vector<std::string> WireSummary() const;
    void ClearWire();
    // Long runs turn recording off to keep memory flat.
    void SetWireRecording(bool on);

    // Transfers blocked right now, across all handles.
    std::size_t PendingReads() const;
    std::size_t PendingWrites() const;
    // Waits (up to bound) until at least n reads / writes are blocked; for race-free tests.
    bool WaitForPendingReads(std::size_t n, std::chrono::milliseconds bound);
    bool WaitForPendingWrites(std::size_t n, std::chrono::milliseconds bound);

private:
    void pumpLocked(Device& device) override;
    bool writeRefusedLocked(Device& device, const std::uint8_t* data, std::size_t length);
    // Waits while writes are stalled or a looped-back adapter's backlog is full, or until
    // interrupted() (a cancel, close or unplug; only an unplug for a kernel-like write).
    template <class Interrupted>
    bool waitForWriteRoomLocked(std::unique_lock<std::mutex>& lock, AdapterFirmware& firmware,
                                std::uint32_t timeoutMs,
                                std::chrono::steady_clock::time_point deadline,
                                Interrupted interrupted);
    void sendLocked(Device& device, const std::uint8_t* data, std::size_t length);
    // The n-th transfer from now of the kind counted by count fails (read under the lock).
    void planFault(std::set<std::uint64_t>& faults, const std::uint64_t& count, unsigned n);
    bool takeFault(std::set<std::uint64_t>& faults, std::uint64_t sequence);
    // Waits (up to bound) until the waiter count, read under the lock, reaches n.
    bool waitForWaiters(const std::size_t& waiters, std::size_t n, std::chrono::milliseconds bound);
    TransferOutcome kernelWrite(OpenHandle& open, const std::uint8_t* data, std::size_t length);
    bool featureTransfer(HidHandle handle, std::uint8_t* buffer, const std::uint8_t* source,
                         std::size_t length, bool get);

    std::condition_variable m_pendingCv; // tests waiting for transfers to block
    std::size_t m_readWaiters = 0;
    std::size_t m_writeWaiters = 0;
    std::size_t m_pendingWatchers = 0;

    InputPacing m_pacing = InputPacing::Drop;

    std::uint64_t m_featureCount = 0;
    std::uint64_t m_writeCount = 0;
    std::uint64_t m_readCount = 0;
    std::set<std::uint64_t> m_featureFaults;
    std::set<std::uint64_t> m_writeFaults;
    std::set<std::uint64_t> m_readFaults;
    std::set<std::uint8_t> m_failingFeatureIds;
    bool m_stallWrites = false;
    bool m_writesIgnoreCancel = false;
    std::size_t m_writesInKernel = 0;

    WireLog m_wire;
};
