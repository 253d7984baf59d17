#pragma once

#include "device/platform/HidPlatform.h"
#include "device/platform/ReportWriter.h"
#include "emulator/AdapterFirmware.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The device half of the emulated HID stack: the emulated adapters and other HID interfaces in
// one enumeration order, plug and unplug with their notices, exclusive open and the handles, and
// what a handle answers about its device. The report paths (feature, output and input reports,
// pacing, faults, the wire record) are EmulatedHidPlatform's; both halves share one lock, so
// that an unplug or a close is seen at once by a transfer waiting on the handle.
class EmulatedDeviceTable : public HidPlatform {
public:
    // Stable id of an emulated device, in the order devices were added.
    using DeviceId = unsigned;

    // hidraw's per-file input queue.
    static constexpr std::uint32_t DefaultInputBufferCount = 63;

    EmulatedDeviceTable() = default;
    ~EmulatedDeviceTable() override = default;

    EmulatedDeviceTable(const EmulatedDeviceTable&) = delete;
    EmulatedDeviceTable& operator=(const EmulatedDeviceTable&) = delete;

    // ---- HidPlatform: enumeration, handles, device answers, notices ----
    std::optional<std::string> interfacePath(unsigned index) override;
    HidHandle openExclusive(const std::string& path) override;
    void close(HidHandle handle) override;
    bool attributes(HidHandle handle, HidAttributes& out) override;
    bool serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) override;
    bool capabilities(HidHandle handle, HidCaps& out) override;
    bool setInputBufferCount(HidHandle handle, std::uint32_t count) override;
    bool inputBufferCount(HidHandle handle, std::uint32_t& out) override;
    OsVersion osVersion() override;
    bool startNotices(DeviceNoticeHandler handler) override;
    void stopNotices() override;
    // nullopt (the platform cannot tell) until SetAccessProblemsReported(true); then the plugged
    // devices with these ids that are held elsewhere (in use) or denied (no permission).
    std::optional<std::vector<HidAccessProblem>>
    inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) override;
    std::optional<std::u16string> serialWithoutOpening(const std::string& path) override;

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

    // As if this user had no permission for the device: openExclusive fails while denied.
    void DenyAccess(DeviceId id, bool denied = true);
    void DenyAccess(const AdapterFirmware& adapter, bool denied = true) {
        DenyAccess(IdOf(adapter), denied);
    }
    // Whether inaccessibleInterfaces tells which devices are held or denied (default false, so
    // the window's texts stay those of a platform that cannot tell).
    void SetAccessProblemsReported(bool reported);

    // Delivers a notice of the test's own to the notice handler (synchronously).
    void RaiseNotice(const DeviceNotice& notice);
    // Whether startNotices succeeds (default true).
    void SetNoticesAvailable(bool available);

    // ---- Device behaviour ----

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

    // Input reports lost because the device's queue was full or no handle was open.
    std::uint64_t DroppedInputReports(DeviceId id) const;
    // Input reports queued for the device's open handle now (0 once it is unplugged).
    std::size_t QueuedInputReports(DeviceId id) const;

protected:
    struct OpenHandle {
        explicit OpenHandle(std::size_t capacity) : queue(capacity) {}
        HidHandle value = InvalidHidHandle;
        DeviceId device = 0;
        bool dead = false;   // unplugged under the handle
        bool closed = false; // closed by the host
        bool cancelRead = false;
        bool cancelWrite = false;
        // Writes of the kernel-like write mode: the thread they run on, and how many are inside.
        ReportWriter writer;
        std::size_t inKernel = 0;
        std::uint32_t inputBufferCount = DefaultInputBufferCount;
        AdapterFirmware::ReportQueue queue;
    };

    struct Device {
        DeviceId id = 0;
        std::unique_ptr<AdapterFirmware> firmware; // adapters only
        HidAttributes attributes;
        std::u16string serial;
        bool hasSerial = true;
        std::string path;
        std::string noticeName;
        bool plugged = true;
        bool heldElsewhere = false;
        bool denied = false;
        HidCaps caps;
        bool failCaps = false;
        bool failAttributes = false;
        bool failSerial = false;
        std::shared_ptr<OpenHandle> open;
        std::uint64_t dropped = 0;
    };

    // Moves what the device's adapter has queued towards its open handle (the report paths'
    // pacing); called under the lock when a handle opens and when the firmware has input.
    virtual void pumpLocked(Device& device) = 0;
    // Stops the firmware's input calls; the owner's destructor does this before its own members
    // go, since those calls end in pumpLocked.
    void detachFirmware();

    // An open, live handle, or null.
    std::shared_ptr<OpenHandle> handleLocked(HidHandle handle) const;
    // Any handle still in the table, dead or not.
    std::shared_ptr<OpenHandle> anyHandleLocked(HidHandle handle) const;
    Device* deviceLocked(DeviceId id);
    const Device* deviceLocked(DeviceId id) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_readCv;  // readers waiting for input
    std::condition_variable m_writeCv; // writers waiting for stall release or backlog room

private:
    DeviceId addDevice(std::unique_ptr<Device> device);
    void assignPathLocked(Device& device);
    void deliver(const DeviceNotice& notice);
    void onFirmwareInput(DeviceId id);
    // Sets one device's flag or value under the lock; an unknown id is ignored.
    template <class Change> void changeDevice(DeviceId id, Change change);
    // What a live handle's device answers, unless that answer is set to fail.
    template <class Value>
    bool answer(HidHandle handle, bool Device::*fails, Value Device::*value, Value& out);

    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<DeviceId> m_enumeration; // plugged devices in enumeration order
    std::map<HidHandle, std::shared_ptr<OpenHandle>> m_handles;
    HidHandle m_nextHandle = 0x100;
    unsigned m_nextInstance = 1;

    DeviceNoticeHandler m_noticeHandler;
    bool m_noticesAvailable = true;
    bool m_accessProblemsReported = false;

    std::uint32_t m_defaultInputBuffers = DefaultInputBufferCount;
    bool m_inputBuffersSettable = false;
    OsVersion m_osVersion{};
};
