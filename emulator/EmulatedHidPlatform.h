#pragma once

#include "device/platform/HidPlatform.h"
#include "emulator/AdapterFirmware.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// In-process HID stack for tests and the demo: emulated adapters (each an AdapterFirmware) and
// other HID interfaces in one enumeration order, plug and unplug with device notices, exclusive
// open, hidraw-like bounded input queues, fault injection and a record of every report.
//
// Input pacing: in Drop mode (default, like hidraw) a report that finds the handle's queue full
// is dropped and counted. In FlowControlled mode reports wait inside the adapter until the queue
// has room, and output writes to a looped-back adapter block while its backlog is full, so
// nothing is lost. A byte source (AdapterFirmware::SetUartSource) is only pulled while the queue
// has room, in both modes. Benchmarks use FlowControlled and turn the wire record and the
// firmware's output record off. No transfer may still be blocked when the platform is destroyed.
class EmulatedHidPlatform : public HidPlatform {
public:
    // Stable id of an emulated device, in the order devices were added.
    using DeviceId = unsigned;

    enum class InputPacing { Drop, FlowControlled };

    // One report on the wire, as the device layer exchanged it.
    struct WireRecord {
        enum class Kind { FeatureGet, FeatureSet, OutputReport, InputReport };
        Kind kind = Kind::FeatureGet;
        DeviceId device = 0;
        std::uint8_t reportId = 0;
        std::size_t length = 0;          // bytes handed over, report id included
        std::vector<std::uint8_t> bytes; // for a get, the answer; for input, the delivered slot
        bool succeeded = true;           // false when the transfer failed (injected or refused)
    };

    // Report writes to a looped-back adapter wait while this many reports are in its backlog
    // (FlowControlled mode only).
    static constexpr std::size_t LoopbackBacklogLimit = 64;
    // hidraw's per-file input queue.
    static constexpr std::uint32_t DefaultInputBufferCount = 63;

    EmulatedHidPlatform();
    ~EmulatedHidPlatform() override;

    EmulatedHidPlatform(const EmulatedHidPlatform&) = delete;
    EmulatedHidPlatform& operator=(const EmulatedHidPlatform&) = delete;

    // ---- HidPlatform ----
    std::optional<std::string> interfacePath(unsigned index) override;
    HidHandle openExclusive(const std::string& path) override;
    void close(HidHandle handle) override;
    bool attributes(HidHandle handle, HidAttributes& out) override;
    bool serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) override;
    bool capabilities(HidHandle handle, HidCaps& out) override;
    bool setInputBufferCount(HidHandle handle, std::uint32_t count) override;
    bool inputBufferCount(HidHandle handle, std::uint32_t& out) override;
    bool getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    bool setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override;
    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override;
    bool flushInput(HidHandle handle) override;
    void cancel(HidHandle handle, TransferKind kind) override;
    void resetCancel(HidHandle handle, TransferKind kind) override;
    OsVersion osVersion() override;
    bool startNotices(DeviceNoticeHandler handler) override;
    void stopNotices() override;

    // ---- Devices ----

    // Plugs in a new adapter (vendor 0xE7A2, product 0x4D15) at the end of the enumeration and
    // returns its firmware; raises an arrival notice when notices are on.
    AdapterFirmware& AddAdapter(const std::string& serial);
    AdapterFirmware& AddAdapter(const std::u16string& serial);
    // Plugs in a HID interface of another kind (no firmware; feature transfers and writes fail).
    DeviceId AddOtherDevice(std::uint16_t vendorId, std::uint16_t productId,
                            const std::u16string& serial = u"");
    // The id of an adapter added here, and the firmware of an adapter id (both throw
    // std::out_of_range for a foreign adapter or an id that is not an adapter).
    DeviceId IdOf(const AdapterFirmware& adapter) const;
    AdapterFirmware& Adapter(DeviceId id);
    // Number of devices ever added (ids run from 0 to this minus one).
    std::size_t DeviceCount() const;
    // The device's current interface path (kept after an unplug; a replug gives a new one).
    std::string PathOf(DeviceId id) const;
    // The device-interface name its notices carry, e.g. "\\?\HID#Vid_e7a2&Pid_4d15#3".
    std::string NoticeNameOf(DeviceId id) const;

    // Unplug: leaves the enumeration and raises a removal notice. As on hidraw, a read waiting
    // on an empty queue completes with 0 bytes, reads started later still get the input reports
    // already queued for the handle and then fail at once, and a write waiting at the unplug
    // fails without reaching the adapter; other calls on the handle fail at once. Plug: back at
    // the end of the enumeration with a new path, firmware power-cycled; raises an arrival
    // notice.
    void Unplug(DeviceId id);
    void Unplug(const AdapterFirmware& adapter) { Unplug(IdOf(adapter)); }
    void Plug(DeviceId id);
    void Plug(const AdapterFirmware& adapter) { Plug(IdOf(adapter)); }
    bool IsPlugged(DeviceId id) const;
    // Whether the device is open through this platform now.
    bool IsOpen(DeviceId id) const;

    // As if another process had the device open: openExclusive fails while held.
    void HoldOpenElsewhere(DeviceId id, bool held = true);
    void HoldOpenElsewhere(const AdapterFirmware& adapter, bool held = true) {
        HoldOpenElsewhere(IdOf(adapter), held);
    }

    // Delivers a notice of the test's own to the notice handler (synchronously).
    void RaiseNotice(const DeviceNotice& notice);
    // Whether startNotices succeeds (default true).
    void SetNoticesAvailable(bool available);

    // ---- Platform behaviour ----

    void SetInputPacing(InputPacing pacing);
    // Input-buffer count given to each new handle (default 63).
    void SetDefaultInputBufferCount(std::uint32_t count);
    // Whether setInputBufferCount is honoured (2..512); hidraw refuses it (default false).
    void SetInputBufferCountSettable(bool settable);
    void SetOsVersion(const OsVersion& version);
    // Report lengths answered by capabilities for this device (adapters default 65/65/9).
    void SetCapabilities(DeviceId id, const HidCaps& caps);
    void FailCapabilities(DeviceId id, bool fail = true);
    void FailAttributes(DeviceId id, bool fail = true);
    void FailSerialString(DeviceId id, bool fail = true);

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
    // The record as short lines: "get 42 01", "set 40 02", "out c0 41 42 ...", "in 83 61 62 63";
    // output and input lines stop after the bytes the id announces.
    std::vector<std::string> WireSummary() const;
    void ClearWire();
    // Long runs turn recording off to keep memory flat.
    void SetWireRecording(bool on);

    // Input reports lost because the device's queue was full or no handle was open.
    std::uint64_t DroppedInputReports(DeviceId id) const;
    // Input reports queued for the device's open handle now (0 once it is unplugged).
    std::size_t QueuedInputReports(DeviceId id) const;
    // Transfers blocked right now, across all handles.
    std::size_t PendingReads() const;
    std::size_t PendingWrites() const;
    // Waits (up to bound) until at least n reads / writes are blocked; for race-free tests.
    bool WaitForPendingReads(std::size_t n, std::chrono::milliseconds bound);
    bool WaitForPendingWrites(std::size_t n, std::chrono::milliseconds bound);

private:
    struct Device;
    struct OpenHandle;

    std::shared_ptr<OpenHandle> handleLocked(HidHandle handle) const;
    Device* deviceLocked(DeviceId id);
    const Device* deviceLocked(DeviceId id) const;
    DeviceId addDevice(std::unique_ptr<Device> device);
    void assignPathLocked(Device& device);
    void deliver(const DeviceNotice& notice);
    void pumpLocked(Device& device);
    bool writeRefusedLocked(Device& device, const std::uint8_t* data, std::size_t length);
    void onFirmwareInput(DeviceId id);
    bool takeFault(std::set<std::uint64_t>& faults, std::uint64_t sequence);
    void recordLocked(WireRecord::Kind kind, DeviceId device, const std::uint8_t* bytes,
                      std::size_t length, bool succeeded);
    TransferOutcome kernelWrite(OpenHandle& open, const std::uint8_t* data, std::size_t length);
    bool featureTransfer(HidHandle handle, std::uint8_t* buffer, const std::uint8_t* source,
                         std::size_t length, bool get);

    mutable std::mutex m_mutex;
    std::condition_variable m_readCv;    // readers waiting for input
    std::condition_variable m_writeCv;   // writers waiting for stall release or backlog room
    std::condition_variable m_pendingCv; // tests waiting for transfers to block
    std::size_t m_readWaiters = 0;
    std::size_t m_writeWaiters = 0;
    std::size_t m_pendingWatchers = 0;

    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<DeviceId> m_enumeration; // plugged devices in enumeration order
    std::map<HidHandle, std::shared_ptr<OpenHandle>> m_handles;
    HidHandle m_nextHandle = 0x100;
    unsigned m_nextInstance = 1;

    DeviceNoticeHandler m_noticeHandler;
    bool m_noticesAvailable = true;

    InputPacing m_pacing = InputPacing::Drop;
    std::uint32_t m_defaultInputBuffers = DefaultInputBufferCount;
    bool m_inputBuffersSettable = false;
    OsVersion m_osVersion{};

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

    std::vector<WireRecord> m_wire;
    bool m_recording = true;
};
