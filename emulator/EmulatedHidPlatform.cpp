#include "emulator/EmulatedHidPlatform.h"

#include "device/WendrakeTypes.h"
#include "device/platform/ReportWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

struct EmulatedHidPlatform::Device {
    DeviceId id = 0;
    std::unique_ptr<AdapterFirmware> firmware; // adapters only
    HidAttributes attributes;
    std::u16string serial;
    bool hasSerial = true;
    std::string path;
    std::string noticeName;
    bool plugged = true;
    bool heldElsewhere = false;
    HidCaps caps;
    bool failCaps = false;
    bool failAttributes = false;
    bool failSerial = false;
    std::shared_ptr<OpenHandle> open;
    std::uint64_t dropped = 0;
};

struct EmulatedHidPlatform::OpenHandle {
    explicit OpenHandle(std::size_t capacity) : queue(capacity) {}
    HidHandle value = InvalidHidHandle;
    DeviceId device = 0;
    bool dead = false;   // unplugged under the handle
    bool closed = false; // closed by the host
    bool cancelRead = false;
    bool cancelWrite = false;
    // Writes of SetWritesIgnoreCancel mode: the thread they run on, and how many are inside.
    ReportWriter writer;
    std::size_t inKernel = 0;
    std::uint32_t inputBufferCount = DefaultInputBufferCount;
    AdapterFirmware::ReportQueue queue;
};

namespace {

std::string hex4(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

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

EmulatedHidPlatform::EmulatedHidPlatform() = default;

EmulatedHidPlatform::~EmulatedHidPlatform() {
    {
        // A handed-over write still waiting in the emulated kernel runs on platform code.
        std::unique_lock lock(m_mutex);
        m_stallWrites = false;
        m_writeCv.notify_all();
        m_writeCv.wait(lock, [this] { return m_writesInKernel == 0; });
    }
    for (auto& device : m_devices)
        if (device->firmware)
            device->firmware->SetInputListener({});
}

// ---- HidPlatform ----

std::optional<std::string> EmulatedHidPlatform::interfacePath(unsigned index) {
    std::lock_guard lock(m_mutex);
    if (index >= m_enumeration.size())
        return std::nullopt;
    return m_devices[m_enumeration[index]]->path;
}

HidHandle EmulatedHidPlatform::openExclusive(const std::string& path) {
    std::lock_guard lock(m_mutex);
    for (DeviceId id : m_enumeration) {
        Device& device = *m_devices[id];
        if (device.path != path)
            continue;
        if (device.heldElsewhere || device.open)
            return InvalidHidHandle;
        auto handle = std::make_shared<OpenHandle>(m_defaultInputBuffers);
        handle->value = m_nextHandle++;
        handle->device = id;
        handle->inputBufferCount = m_defaultInputBuffers;
        device.open = handle;
        m_handles[handle->value] = handle;
        pumpLocked(device);
        return handle->value;
    }
    return InvalidHidHandle;
}

void EmulatedHidPlatform::close(HidHandle handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    auto open = it->second;
    m_handles.erase(it);
    open->closed = true;
    open->writer.cancel();
    Device& device = *m_devices[open->device];
    // A write the kernel still holds keeps the device open until it has ended.
    if (device.open == open && open->inKernel == 0)
        device.open.reset();
    m_readCv.notify_all();
    m_writeCv.notify_all();
}

bool EmulatedHidPlatform::attributes(HidHandle handle, HidAttributes& out) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    const Device& device = *m_devices[open->device];
    if (device.failAttributes)
        return false;
    out = device.attributes;
    return true;
}

bool EmulatedHidPlatform::serialString(HidHandle handle, char16_t* buffer,
                                       std::size_t bufferUnits) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open || buffer == nullptr || bufferUnits == 0)
        return false;
    const Device& device = *m_devices[open->device];
    if (device.failSerial || !device.hasSerial)
        return false;
    const std::size_t units = std::min(device.serial.size(), bufferUnits - 1);
    std::copy_n(device.serial.data(), units, buffer);
    buffer[units] = u'\0';
    return true;
}

bool EmulatedHidPlatform::capabilities(HidHandle handle, HidCaps& out) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    const Device& device = *m_devices[open->device];
    if (device.failCaps)
        return false;
    out = device.caps;
    return true;
}

bool EmulatedHidPlatform::setInputBufferCount(HidHandle handle, std::uint32_t count) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open || !m_inputBuffersSettable || count < 2 || count > 512)
        return false;
    open->inputBufferCount = count;
    return true;
}

bool EmulatedHidPlatform::inputBufferCount(HidHandle handle, std::uint32_t& out) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    out = open->inputBufferCount;
    return true;
}

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
    Device& device = *m_devices[open->device];
    const bool injected =
        takeFault(m_featureFaults, ++m_featureCount) || m_failingFeatureIds.count(source[0]) != 0;
    bool ok = false;
    if (!injected && device.firmware)
        ok = get ? device.firmware->GetFeature(buffer, length)
                 : device.firmware->SetFeature(source, length);
    recordLocked(get ? WireRecord::Kind::FeatureGet : WireRecord::Kind::FeatureSet, device.id,
                 source, length, ok);
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
    Device& device = *m_devices[open->device];
    if (writeRefusedLocked(device, data, length))
        return TransferOutcome::Failed;

    AdapterFirmware& firmware = *device.firmware;
    auto interrupted = [&] { return open->cancelWrite || open->dead || open->closed; };
    // A looped-back adapter with a full backlog holds the report back, as a busy endpoint would.
    auto backlogFull = [&] {
        return m_pacing == InputPacing::FlowControlled && firmware.Loopback() &&
               firmware.PendingInputReports() >= LoopbackBacklogLimit;
    };
    if (!interrupted() && (m_stallWrites || backlogFull())) {
        if (m_pendingWatchers > 0)
            m_pendingCv.notify_all();
        const bool reached = waitFor(lock, m_writeCv, m_writeWaiters, timeoutMs, deadline, [&] {
            return interrupted() || (!m_stallWrites && !backlogFull());
        });
        if (!reached)
            return TransferOutcome::TimedOut;
    }
    // Like hidraw: a report still waiting when the adapter went never left, which is a failure.
    if (open->dead)
        return TransferOutcome::Failed;
    // Cancelled or closed: the pending write completes without reaching the adapter.
    if (interrupted())
        return TransferOutcome::Completed;

    recordLocked(WireRecord::Kind::OutputReport, device.id, data, length, true);
    if (firmware.WriteOutputReport(data, length) > 0)
        pumpLocked(device);
    return TransferOutcome::Completed;
}

// An injected fault (recorded as a report that failed) or a report the adapter cannot take.
bool EmulatedHidPlatform::writeRefusedLocked(Device& device, const std::uint8_t* data,
                                             std::size_t length) {
    if (takeFault(m_writeFaults, ++m_writeCount)) {
        recordLocked(WireRecord::Kind::OutputReport, device.id, data, length, false);
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
    if (open.dead) {
        return TransferOutcome::Failed;
    }
    Device& device = *m_devices[open.device];
    if (writeRefusedLocked(device, data, length))
        return TransferOutcome::Failed;
    AdapterFirmware& firmware = *device.firmware;
    ++open.inKernel;
    ++m_writesInKernel;
    auto backlogFull = [&] {
        return m_pacing == InputPacing::FlowControlled && firmware.Loopback() &&
               firmware.PendingInputReports() >= LoopbackBacklogLimit;
    };
    if (m_stallWrites || backlogFull()) {
        if (m_pendingWatchers > 0)
            m_pendingCv.notify_all();
        // No cancel, no time-out, no close: only the adapter taking it or an unplug end it.
        waitFor(lock, m_writeCv, m_writeWaiters, HidInfiniteTimeout, {},
                [&] { return open.dead || (!m_stallWrites && !backlogFull()); });
    }
    TransferOutcome outcome = TransferOutcome::Completed;
    if (open.dead) {
        outcome = TransferOutcome::Failed;
    } else {
        recordLocked(WireRecord::Kind::OutputReport, device.id, data, length, true);
        if (firmware.WriteOutputReport(data, length) > 0)
            pumpLocked(device);
    }
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
    const auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second->closed || buffer == nullptr)
        return TransferOutcome::Failed;
    const auto open = it->second;
    // Only a read already waiting at the unplug ends empty; a later one gets what is still
    // queued, or fails at once.
    const bool deadAtStart = open->dead;
    Device& device = *m_devices[open->device];
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
        recordLocked(WireRecord::Kind::InputReport, device.id, out, slot, true);
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
    auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    if (kind == TransferKind::Read) {
        it->second->cancelRead = true;
        m_readCv.notify_all();
    } else {
        it->second->cancelWrite = true;
        it->second->writer.cancel();
        m_writeCv.notify_all();
    }
}

void EmulatedHidPlatform::resetCancel(HidHandle handle, TransferKind kind) {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    if (kind == TransferKind::Read)
        it->second->cancelRead = false;
    else {
        it->second->cancelWrite = false;
        it->second->writer.resetCancel();
    }
}

OsVersion EmulatedHidPlatform::osVersion() {
    std::lock_guard lock(m_mutex);
    return m_osVersion;
}

bool EmulatedHidPlatform::startNotices(DeviceNoticeHandler handler) {
    std::lock_guard lock(m_mutex);
    if (!m_noticesAvailable)
        return false;
    m_noticeHandler = std::move(handler);
    return true;
}

void EmulatedHidPlatform::stopNotices() {
    std::lock_guard lock(m_mutex);
    m_noticeHandler = nullptr;
}

// ---- Devices ----

AdapterFirmware& EmulatedHidPlatform::AddAdapter(const std::string& serial) {
    std::u16string wide;
    for (char c : serial)
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return AddAdapter(wide);
}

AdapterFirmware& EmulatedHidPlatform::AddAdapter(const std::u16string& serial) {
    auto device = std::make_unique<Device>();
    device->firmware = std::make_unique<AdapterFirmware>();
    device->attributes = {WendrakeVendorId, WendrakeProductId};
    device->serial = serial;
    device->caps = {static_cast<std::uint16_t>(AdapterFirmware::InputReportLength),
                    static_cast<std::uint16_t>(AdapterFirmware::OutputReportLength),
                    static_cast<std::uint16_t>(AdapterFirmware::FeatureReportLength)};
    AdapterFirmware& firmware = *device->firmware;
    const DeviceId id = addDevice(std::move(device));
    firmware.SetInputListener([this, id] { onFirmwareInput(id); });
    return firmware;
}

EmulatedHidPlatform::DeviceId EmulatedHidPlatform::AddOtherDevice(std::uint16_t vendorId,
                                                                  std::uint16_t productId,
                                                                  const std::u16string& serial) {
    auto device = std::make_unique<Device>();
    device->attributes = {vendorId, productId};
    device->serial = serial;
    device->caps = {9, 9, 0};
    return addDevice(std::move(device));
}

EmulatedHidPlatform::DeviceId EmulatedHidPlatform::addDevice(std::unique_ptr<Device> device) {
    DeviceNotice notice;
    DeviceId id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = static_cast<DeviceId>(m_devices.size());
        device->id = id;
        assignPathLocked(*device);
        m_enumeration.push_back(id);
        notice = {DeviceArrivalEvent, DeviceTypeInterface, device->noticeName};
        m_devices.push_back(std::move(device));
    }
    deliver(notice);
    return id;
}

void EmulatedHidPlatform::assignPathLocked(Device& device) {
    // Same shape as the names the window compares; a new instance number on every plug.
    const std::string instance = std::to_string(m_nextInstance++);
    const std::string vid = hex4(device.attributes.VendorId);
    const std::string pid = hex4(device.attributes.ProductId);
    device.path = "\\\\?\\hid#vid_" + vid + "&pid_" + pid + "#" + instance;
    device.noticeName = "\\\\?\\HID#Vid_" + vid + "&Pid_" + pid + "#" + instance;
}

EmulatedHidPlatform::DeviceId EmulatedHidPlatform::IdOf(const AdapterFirmware& adapter) const {
    std::lock_guard lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->firmware.get() == &adapter)
            return device->id;
    throw std::out_of_range("adapter does not belong to this platform");
}

AdapterFirmware& EmulatedHidPlatform::Adapter(DeviceId id) {
    std::lock_guard lock(m_mutex);
    Device* device = deviceLocked(id);
    if (device == nullptr || !device->firmware)
        throw std::out_of_range("no adapter with that id");
    return *device->firmware;
}

std::size_t EmulatedHidPlatform::DeviceCount() const {
    std::lock_guard lock(m_mutex);
    return m_devices.size();
}

std::string EmulatedHidPlatform::PathOf(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->path : std::string();
}

std::string EmulatedHidPlatform::NoticeNameOf(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->noticeName : std::string();
}

void EmulatedHidPlatform::Unplug(DeviceId id) {
    DeviceNotice notice;
    {
        std::lock_guard lock(m_mutex);
        Device* device = deviceLocked(id);
        if (device == nullptr || !device->plugged)
            return;
        device->plugged = false;
        std::erase(m_enumeration, id);
        if (device->open) {
            device->open->dead = true;
            device->open.reset();
        }
        if (device->firmware)
            device->firmware->DiscardPendingInput();
        m_readCv.notify_all();
        m_writeCv.notify_all();
        notice = {DeviceRemoveCompleteEvent, DeviceTypeInterface, device->noticeName};
    }
    deliver(notice);
}

void EmulatedHidPlatform::Plug(DeviceId id) {
    DeviceNotice notice;
    {
        std::lock_guard lock(m_mutex);
        Device* device = deviceLocked(id);
        if (device == nullptr || device->plugged)
            return;
        device->plugged = true;
        assignPathLocked(*device);
        m_enumeration.push_back(id);
        if (device->firmware)
            device->firmware->PowerCycle();
        notice = {DeviceArrivalEvent, DeviceTypeInterface, device->noticeName};
    }
    deliver(notice);
}

bool EmulatedHidPlatform::IsPlugged(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device != nullptr && device->plugged;
}

bool EmulatedHidPlatform::IsOpen(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device != nullptr && device->open != nullptr;
}

void EmulatedHidPlatform::HoldOpenElsewhere(DeviceId id, bool held) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        device->heldElsewhere = held;
}

void EmulatedHidPlatform::RaiseNotice(const DeviceNotice& notice) {
    deliver(notice);
}

void EmulatedHidPlatform::SetNoticesAvailable(bool available) {
    std::lock_guard lock(m_mutex);
    m_noticesAvailable = available;
}

// ---- Platform behaviour ----

void EmulatedHidPlatform::SetInputPacing(InputPacing pacing) {
    std::lock_guard lock(m_mutex);
    m_pacing = pacing;
    m_writeCv.notify_all();
}

void EmulatedHidPlatform::SetDefaultInputBufferCount(std::uint32_t count) {
    std::lock_guard lock(m_mutex);
    m_defaultInputBuffers = count;
}

void EmulatedHidPlatform::SetInputBufferCountSettable(bool settable) {
    std::lock_guard lock(m_mutex);
    m_inputBuffersSettable = settable;
}

void EmulatedHidPlatform::SetOsVersion(const OsVersion& version) {
    std::lock_guard lock(m_mutex);
    m_osVersion = version;
}

void EmulatedHidPlatform::SetCapabilities(DeviceId id, const HidCaps& caps) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        device->caps = caps;
}

void EmulatedHidPlatform::FailCapabilities(DeviceId id, bool fail) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        device->failCaps = fail;
}

void EmulatedHidPlatform::FailAttributes(DeviceId id, bool fail) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        device->failAttributes = fail;
}

void EmulatedHidPlatform::FailSerialString(DeviceId id, bool fail) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        device->failSerial = fail;
}

// ---- Fault injection ----

void EmulatedHidPlatform::FailNthFeatureTransfer(unsigned n) {
    std::lock_guard lock(m_mutex);
    if (n > 0)
        m_featureFaults.insert(m_featureCount + n);
}

void EmulatedHidPlatform::FailFeatureReportId(std::uint8_t reportId, bool fail) {
    std::lock_guard lock(m_mutex);
    if (fail)
        m_failingFeatureIds.insert(reportId);
    else
        m_failingFeatureIds.erase(reportId);
}

void EmulatedHidPlatform::FailNthWrite(unsigned n) {
    std::lock_guard lock(m_mutex);
    if (n > 0)
        m_writeFaults.insert(m_writeCount + n);
}

void EmulatedHidPlatform::FailNthRead(unsigned n) {
    std::lock_guard lock(m_mutex);
    if (n > 0)
        m_readFaults.insert(m_readCount + n);
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

bool EmulatedHidPlatform::takeFault(std::set<std::uint64_t>& faults, std::uint64_t sequence) {
    return faults.erase(sequence) > 0;
}

// ---- Observation ----

std::vector<EmulatedHidPlatform::WireRecord> EmulatedHidPlatform::Wire() const {
    std::lock_guard lock(m_mutex);
    return m_wire;
}

std::vector<std::string> EmulatedHidPlatform::WireSummary() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> lines;
    lines.reserve(m_wire.size());
    for (const WireRecord& record : m_wire) {
        std::string line;
        std::size_t shown = record.bytes.size();
        switch (record.kind) {
        case WireRecord::Kind::FeatureGet:
            line = "get";
            break;
        case WireRecord::Kind::FeatureSet:
            line = "set";
            break;
        case WireRecord::Kind::OutputReport:
        case WireRecord::Kind::InputReport:
            line = record.kind == WireRecord::Kind::OutputReport ? "out" : "in";
            if (record.reportId > AdapterFirmware::UartReportBase &&
                record.reportId <= AdapterFirmware::UartReportBase + 64)
                shown = std::min<std::size_t>(shown, 1u + record.reportId -
                                                         AdapterFirmware::UartReportBase);
            else
                shown = std::min<std::size_t>(shown, 1);
            break;
        }
        char hex[4];
        for (std::size_t i = 0; i < shown; ++i) {
            std::snprintf(hex, sizeof hex, " %02x", record.bytes[i]);
            line += hex;
        }
        if (!record.succeeded)
            line += " (failed)";
        lines.push_back(std::move(line));
    }
    return lines;
}

void EmulatedHidPlatform::ClearWire() {
    std::lock_guard lock(m_mutex);
    m_wire.clear();
}

void EmulatedHidPlatform::SetWireRecording(bool on) {
    std::lock_guard lock(m_mutex);
    m_recording = on;
}

std::uint64_t EmulatedHidPlatform::DroppedInputReports(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->dropped : 0;
}

std::size_t EmulatedHidPlatform::QueuedInputReports(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device && device->open ? device->open->queue.size() : 0;
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
    std::unique_lock lock(m_mutex);
    ++m_pendingWatchers;
    const bool reached = m_pendingCv.wait_for(lock, bound, [&] { return m_readWaiters >= n; });
    --m_pendingWatchers;
    return reached;
}

bool EmulatedHidPlatform::WaitForPendingWrites(std::size_t n, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    ++m_pendingWatchers;
    const bool reached = m_pendingCv.wait_for(lock, bound, [&] { return m_writeWaiters >= n; });
    --m_pendingWatchers;
    return reached;
}

// ---- Internals ----

std::shared_ptr<EmulatedHidPlatform::OpenHandle>
EmulatedHidPlatform::handleLocked(HidHandle handle) const {
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second->dead || it->second->closed)
        return nullptr;
    return it->second;
}

EmulatedHidPlatform::Device* EmulatedHidPlatform::deviceLocked(DeviceId id) {
    return id < m_devices.size() ? m_devices[id].get() : nullptr;
}

const EmulatedHidPlatform::Device* EmulatedHidPlatform::deviceLocked(DeviceId id) const {
    return id < m_devices.size() ? m_devices[id].get() : nullptr;
}

void EmulatedHidPlatform::deliver(const DeviceNotice& notice) {
    DeviceNoticeHandler handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_noticeHandler;
    }
    // Outside the lock: the handler may well enumerate or open devices.
    if (handler)
        handler(notice);
}

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

void EmulatedHidPlatform::onFirmwareInput(DeviceId id) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id)) {
        if (device->plugged)
            pumpLocked(*device);
        else if (device->firmware)
            device->firmware->DiscardPendingInput();
    }
}

void EmulatedHidPlatform::recordLocked(WireRecord::Kind kind, DeviceId device,
                                       const std::uint8_t* bytes, std::size_t length,
                                       bool succeeded) {
    if (!m_recording)
        return;
    WireRecord record;
    record.kind = kind;
    record.device = device;
    record.reportId = length > 0 ? bytes[0] : 0;
    record.length = length;
    record.bytes.assign(bytes, bytes + length);
    record.succeeded = succeeded;
    m_wire.push_back(std::move(record));
}
