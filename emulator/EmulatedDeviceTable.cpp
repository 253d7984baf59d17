#include "emulator/EmulatedDeviceTable.h"

#include "device/WendrakeTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace {

std::string hex4(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

} // namespace

template <class Change> void EmulatedDeviceTable::changeDevice(DeviceId id, Change change) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id))
        change(*device);
}

template <class Value>
bool EmulatedDeviceTable::answer(HidHandle handle, bool Device::*fails, Value Device::*value,
                                 Value& out) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open || deviceLocked(open->device)->*fails)
        return false;
    out = deviceLocked(open->device)->*value;
    return true;
}

// ---- HidPlatform ----

std::optional<std::string> EmulatedDeviceTable::interfacePath(unsigned index) {
    std::lock_guard lock(m_mutex);
    if (index >= m_enumeration.size())
        return std::nullopt;
    return m_devices[m_enumeration[index]]->path;
}

HidHandle EmulatedDeviceTable::openExclusive(const std::string& path) {
    std::lock_guard lock(m_mutex);
    for (DeviceId id : m_enumeration) {
        Device& device = *m_devices[id];
        if (device.path != path)
            continue;
        if (device.heldElsewhere || device.denied || device.open)
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

void EmulatedDeviceTable::close(HidHandle handle) {
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

bool EmulatedDeviceTable::attributes(HidHandle handle, HidAttributes& out) {
    return answer(handle, &Device::failAttributes, &Device::attributes, out);
}

bool EmulatedDeviceTable::serialString(HidHandle handle, char16_t* buffer,
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

bool EmulatedDeviceTable::capabilities(HidHandle handle, HidCaps& out) {
    return answer(handle, &Device::failCaps, &Device::caps, out);
}

bool EmulatedDeviceTable::setInputBufferCount(HidHandle handle, std::uint32_t count) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open || !m_inputBuffersSettable || count < 2 || count > 512)
        return false;
    open->inputBufferCount = count;
    return true;
}

bool EmulatedDeviceTable::inputBufferCount(HidHandle handle, std::uint32_t& out) {
    std::lock_guard lock(m_mutex);
    auto open = handleLocked(handle);
    if (!open)
        return false;
    out = open->inputBufferCount;
    return true;
}

OsVersion EmulatedDeviceTable::osVersion() {
    std::lock_guard lock(m_mutex);
    return m_osVersion;
}

bool EmulatedDeviceTable::startNotices(DeviceNoticeHandler handler) {
    std::lock_guard lock(m_mutex);
    if (!m_noticesAvailable)
        return false;
    m_noticeHandler = std::move(handler);
    return true;
}

void EmulatedDeviceTable::stopNotices() {
    std::lock_guard lock(m_mutex);
    m_noticeHandler = nullptr;
}

// ---- Devices ----

AdapterFirmware& EmulatedDeviceTable::AddAdapter(const std::string& serial) {
    std::u16string wide;
    for (char c : serial)
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return AddAdapter(wide);
}

AdapterFirmware& EmulatedDeviceTable::AddAdapter(const std::u16string& serial) {
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

EmulatedDeviceTable::DeviceId EmulatedDeviceTable::AddOtherDevice(std::uint16_t vendorId,
                                                                  std::uint16_t productId,
                                                                  const std::u16string& serial) {
    auto device = std::make_unique<Device>();
    device->attributes = {vendorId, productId};
    device->serial = serial;
    device->caps = {9, 9, 0};
    return addDevice(std::move(device));
}

EmulatedDeviceTable::DeviceId EmulatedDeviceTable::addDevice(std::unique_ptr<Device> device) {
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

void EmulatedDeviceTable::assignPathLocked(Device& device) {
    // Same shape as the names the window compares; a new instance number on every plug.
    const std::string instance = std::to_string(m_nextInstance++);
    const std::string vid = hex4(device.attributes.VendorId);
    const std::string pid = hex4(device.attributes.ProductId);
    device.path = "\\\\?\\hid#vid_" + vid + "&pid_" + pid + "#" + instance;
    device.noticeName = "\\\\?\\HID#Vid_" + vid + "&Pid_" + pid + "#" + instance;
}

EmulatedDeviceTable::DeviceId EmulatedDeviceTable::IdOf(const AdapterFirmware& adapter) const {
    std::lock_guard lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->firmware.get() == &adapter)
            return device->id;
    throw std::out_of_range("adapter does not belong to this platform");
}

AdapterFirmware& EmulatedDeviceTable::Adapter(DeviceId id) {
    std::lock_guard lock(m_mutex);
    Device* device = deviceLocked(id);
    if (device == nullptr || !device->firmware)
        throw std::out_of_range("no adapter with that id");
    return *device->firmware;
}

std::size_t EmulatedDeviceTable::DeviceCount() const {
    std::lock_guard lock(m_mutex);
    return m_devices.size();
}

std::string EmulatedDeviceTable::PathOf(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->path : std::string();
}

std::string EmulatedDeviceTable::NoticeNameOf(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->noticeName : std::string();
}

void EmulatedDeviceTable::Unplug(DeviceId id) {
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

void EmulatedDeviceTable::Plug(DeviceId id) {
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

bool EmulatedDeviceTable::IsPlugged(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device != nullptr && device->plugged;
}

bool EmulatedDeviceTable::IsOpen(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device != nullptr && device->open != nullptr;
}

void EmulatedDeviceTable::HoldOpenElsewhere(DeviceId id, bool held) {
    changeDevice(id, [held](Device& device) { device.heldElsewhere = held; });
}

void EmulatedDeviceTable::DenyAccess(DeviceId id, bool denied) {
    changeDevice(id, [denied](Device& device) { device.denied = denied; });
}

void EmulatedDeviceTable::SetAccessProblemsReported(bool reported) {
    std::lock_guard lock(m_mutex);
    m_accessProblemsReported = reported;
}

std::optional<std::vector<HidAccessProblem>>
EmulatedDeviceTable::inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) {
    std::lock_guard lock(m_mutex);
    if (!m_accessProblemsReported)
        return std::nullopt;
    std::vector<HidAccessProblem> problems;
    for (DeviceId id : m_enumeration) {
        const Device& device = *m_devices[id];
        if (device.attributes.VendorId != vendorId || device.attributes.ProductId != productId)
            continue;
        // Denied comes first, as the open is refused before any lock is tried.
        if (device.denied)
            problems.push_back({device.path, HidAccessProblem::Reason::Permission, EACCES});
        else if (device.heldElsewhere)
            problems.push_back({device.path, HidAccessProblem::Reason::InUse, EWOULDBLOCK});
    }
    return problems;
}

std::optional<std::u16string> EmulatedDeviceTable::serialWithoutOpening(const std::string& path) {
    std::lock_guard lock(m_mutex);
    if (!m_accessProblemsReported)
        return std::nullopt;
    for (DeviceId id : m_enumeration) {
        const Device& device = *m_devices[id];
        if (device.path == path && device.hasSerial && !device.failSerial)
            return device.serial;
    }
    return std::nullopt;
}

void EmulatedDeviceTable::RaiseNotice(const DeviceNotice& notice) {
    deliver(notice);
}

void EmulatedDeviceTable::SetNoticesAvailable(bool available) {
    std::lock_guard lock(m_mutex);
    m_noticesAvailable = available;
}

// ---- Device behaviour ----

void EmulatedDeviceTable::SetDefaultInputBufferCount(std::uint32_t count) {
    std::lock_guard lock(m_mutex);
    m_defaultInputBuffers = count;
}

void EmulatedDeviceTable::SetInputBufferCountSettable(bool settable) {
    std::lock_guard lock(m_mutex);
    m_inputBuffersSettable = settable;
}

void EmulatedDeviceTable::SetOsVersion(const OsVersion& version) {
    std::lock_guard lock(m_mutex);
    m_osVersion = version;
}

void EmulatedDeviceTable::SetCapabilities(DeviceId id, const HidCaps& caps) {
    changeDevice(id, [&caps](Device& device) { device.caps = caps; });
}

void EmulatedDeviceTable::FailCapabilities(DeviceId id, bool fail) {
    changeDevice(id, [fail](Device& device) { device.failCaps = fail; });
}

void EmulatedDeviceTable::FailAttributes(DeviceId id, bool fail) {
    changeDevice(id, [fail](Device& device) { device.failAttributes = fail; });
}

void EmulatedDeviceTable::FailSerialString(DeviceId id, bool fail) {
    changeDevice(id, [fail](Device& device) { device.failSerial = fail; });
}

std::uint64_t EmulatedDeviceTable::DroppedInputReports(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device ? device->dropped : 0;
}

std::size_t EmulatedDeviceTable::QueuedInputReports(DeviceId id) const {
    std::lock_guard lock(m_mutex);
    const Device* device = deviceLocked(id);
    return device && device->open ? device->open->queue.size() : 0;
}

// ---- Internals ----

void EmulatedDeviceTable::detachFirmware() {
    for (auto& device : m_devices)
        if (device->firmware)
            device->firmware->SetInputListener({});
}

std::shared_ptr<EmulatedDeviceTable::OpenHandle>
EmulatedDeviceTable::handleLocked(HidHandle handle) const {
    auto open = anyHandleLocked(handle);
    return open && !open->dead && !open->closed ? open : nullptr;
}

std::shared_ptr<EmulatedDeviceTable::OpenHandle>
EmulatedDeviceTable::anyHandleLocked(HidHandle handle) const {
    auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second;
}

EmulatedDeviceTable::Device* EmulatedDeviceTable::deviceLocked(DeviceId id) {
    return id < m_devices.size() ? m_devices[id].get() : nullptr;
}

const EmulatedDeviceTable::Device* EmulatedDeviceTable::deviceLocked(DeviceId id) const {
    return id < m_devices.size() ? m_devices[id].get() : nullptr;
}

void EmulatedDeviceTable::deliver(const DeviceNotice& notice) {
    DeviceNoticeHandler handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_noticeHandler;
    }
    // Outside the lock: the handler may well enumerate or open devices.
    if (handler)
        handler(notice);
}

void EmulatedDeviceTable::onFirmwareInput(DeviceId id) {
    std::lock_guard lock(m_mutex);
    if (Device* device = deviceLocked(id)) {
        if (device->plugged)
            pumpLocked(*device);
        else if (device->firmware)
            device->firmware->DiscardPendingInput();
    }
}
