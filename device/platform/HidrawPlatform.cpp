#include "device/platform/HidrawPlatform.h"

#include "device/LogCategories.h"
#include "device/platform/HidDescriptorParser.h"
#include "device/platform/HidrawUevent.h"
#include "device/platform/ReportWriter.h"
#include "device/platform/UdevNoticeWatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The last failure of each thread, as lastError() gives it.
thread_local std::string t_lastError;

// Every failing system call ends up here: logged with the system's words, and kept as the
// thread's last failure. Takes errno as a value, read right after the call.
void systemFailure(std::string_view call, std::string_view subject, int error) {
    t_lastError =
        std::string(call) + " " + std::string(subject) + ": " + errnoText(error).toStdString();
    logSystemFailure(lcHidraw(), call, subject, error);
}

// What an errno means for a transfer; the one place where errno values are interpreted.
enum class IoError { Interrupted, WouldBlock, DeviceGone, Other };

IoError classifyErrno(int error) {
    switch (error) {
    case EINTR:
        return IoError::Interrupted;
    case EAGAIN:
        return IoError::WouldBlock;
    // hidraw answers ENODEV once the device is gone and EIO to a read of an empty queue after
    // an unplug; a USB transfer cut short by the unplug ends with ESHUTDOWN or ENXIO.
    case ENODEV:
    case EIO:
    case ESHUTDOWN:
    case ENXIO:
        return IoError::DeviceGone;
    default:
        return IoError::Other;
    }
}

// A poll() time-out counted down across retries after EINTR.
class Deadline {
public:
    explicit Deadline(std::uint32_t timeoutMs)
        : m_infinite(timeoutMs == HidInfiniteTimeout),
          m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    int pollTimeout() const {
        if (m_infinite)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              m_end - std::chrono::steady_clock::now())
                              .count();
        return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    bool expired() const { return !m_infinite && std::chrono::steady_clock::now() >= m_end; }

private:
    bool m_infinite;
    std::chrono::steady_clock::time_point m_end;
};

void closeIfOpen(int fd) {
    if (fd >= 0)
        ::close(fd);
}

void signalEvent(int fd) {
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled, which is all that matters.
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
}

void drainEvent(int fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] const auto got = ::read(fd, &value, sizeof value);
}

bool isReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        systemFailure("open", path, errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        systemFailure("read", path, errno);
        return std::nullopt;
    }
    return text.str();
}

} // namespace

struct HidrawPlatform::Device {
    std::string path; // for the failure texts
    int fd = -1;
    int readCancel = -1;
    int writeCancel = -1;
    std::string ueventPath;
    // Set when a transfer saw the device go: later writes fail at once. Reads look for
    // themselves, so that reports queued before the unplug are still handed out.
    std::atomic<bool> gone{false};
    // Report writes run here; a write stuck in the driver keeps the device (and the lock on the
    // node) until it has left.
    ReportWriter writer;

    mutable std::mutex lengthsMutex;
    HidCaps caps;
    bool usesReportIds = true;

    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        closeIfOpen(fd);
        closeIfOpen(readCancel);
        closeIfOpen(writeCancel);
    }

    std::pair<HidCaps, bool> lengths() const {
        std::lock_guard lock(lengthsMutex);
        return {caps, usesReportIds};
    }
    void setLengths(const HidCaps& newCaps, bool ids) {
        std::lock_guard lock(lengthsMutex);
        caps = newCaps;
        usesReportIds = ids;
    }
    int cancelFd(TransferKind kind) const {
        return kind == TransferKind::Read ? readCancel : writeCancel;
    }
    TransferOutcome blockingWrite(const std::uint8_t* data, std::size_t length);
};

HidrawPlatform::HidrawPlatform(std::string sysfsRoot, std::string devRoot)
    : m_sysfsRoot(std::move(sysfsRoot)), m_devRoot(std::move(devRoot)) {}

HidrawPlatform::~HidrawPlatform() {
    stopNotices();
}

std::optional<unsigned> HidrawPlatform::hidrawNumber(std::string_view name) {
    constexpr std::string_view prefix = "hidraw";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::vector<unsigned> HidrawPlatform::hidrawNodes() const {
    std::vector<unsigned> numbers;
    std::error_code error;
    const auto folder = std::filesystem::path(m_sysfsRoot) / "class" / "hidraw";
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (const auto number = hidrawNumber(it->path().filename().string()))
            numbers.push_back(*number);
    }
    // No hidraw class at all just means no HID device was ever attached.
    if (error && error != std::errc::no_such_file_or_directory)
        systemFailure("opendir", folder.string(), error.value());
    // Directory order is arbitrary and a text sort puts hidraw10 before hidraw2.
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<std::string> HidrawPlatform::interfacePath(unsigned index) {
    const auto numbers = hidrawNodes();
    if (index >= numbers.size())
        return std::nullopt;
    return m_devRoot + "/hidraw" + std::to_string(numbers[index]);
}

std::string HidrawPlatform::ueventPathFor(const std::string& path, int fd) const {
    const std::string name = std::filesystem::path(path).filename().string();
    if (hidrawNumber(name))
        return m_sysfsRoot + "/class/hidraw/" + name + "/device/uevent";
    // A node reached under another name (a symlink, a udev alias) is found by its device number.
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        systemFailure("fstat", path, errno);
    else if (S_ISCHR(info.st_mode)) {
        return m_sysfsRoot + "/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
               std::to_string(minor(info.st_rdev)) + "/device/uevent";
    }
    return {};
}

HidHandle HidrawPlatform::insert(std::shared_ptr<Device> device) {
    std::lock_guard lock(m_mutex);
    // 0 and the invalid value are never handed out, whatever has been opened before.
    while (m_nextHandle <= 0 || m_nextHandle == InvalidHidHandle || m_devices.count(m_nextHandle))
        m_nextHandle = m_nextHandle <= 0 ? 1 : m_nextHandle + 1;
    const HidHandle handle = m_nextHandle++;
    m_devices.emplace(handle, std::move(device));
    return handle;
}

std::shared_ptr<HidrawPlatform::Device> HidrawPlatform::find(HidHandle handle) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(handle);
    return it == m_devices.end() ? nullptr : it->second;
}

HidHandle HidrawPlatform::openExclusive(const std::string& path) {
    auto device = std::make_shared<Device>();
    device->path = path;
    // Non-blocking, so that after poll() the queue can be read empty without ever blocking.
    device->fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (device->fd < 0) {
        systemFailure("open", path, errno);
        return InvalidHidHandle;
    }
    // hidraw itself lets any number of processes open a node; the advisory lock is what makes
    // a device held by another (cooperating) program count as open elsewhere.
    if (::flock(device->fd, LOCK_EX | LOCK_NB) != 0) {
        systemFailure("flock", path, errno);
        return InvalidHidHandle;
    }
    device->readCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    device->writeCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device->readCancel < 0 || device->writeCancel < 0) {
        systemFailure("eventfd", path, errno);
        return InvalidHidHandle;
    }
    // What went wrong with the nodes tried before this one is no reason for what follows.
    t_lastError.clear();
    device->ueventPath = ueventPathFor(path, device->fd);
    // Transfers need the report lengths even if nobody asks for the capabilities.
    loadDescriptor(*device);
    return insert(std::move(device));
}

HidHandle HidrawPlatform::adoptForTest(int fd, const HidCaps& caps, bool usesReportIds) {
    auto device = std::make_shared<Device>();
    device->path = "descriptor " + std::to_string(fd);
    device->fd = fd;
    if (fd < 0)
        return InvalidHidHandle;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return InvalidHidHandle;
    device->readCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    device->writeCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device->readCancel < 0 || device->writeCancel < 0)
        return InvalidHidHandle;
    device->setLengths(caps, usesReportIds);
    return insert(std::move(device));
}

void HidrawPlatform::close(HidHandle handle) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_devices.find(handle);
        if (it == m_devices.end())
            return;
        device = std::move(it->second);
        m_devices.erase(it);
    }
    // A transfer still waiting on the device wakes and ends; the descriptors (and the lock)
    // go when it lets go of the device.
    signalEvent(device->readCancel);
    signalEvent(device->writeCancel);
    device->writer.cancel();
}

bool HidrawPlatform::attributes(HidHandle handle, HidAttributes& out) {
    const auto device = find(handle);
    if (!device)
        return false;
    hidraw_devinfo info{};
    if (::ioctl(device->fd, HIDIOCGRAWINFO, &info) < 0) {
        systemFailure("HIDIOCGRAWINFO", device->path, errno);
        return false;
    }
    // The kernel declares vendor and product as signed 16-bit; 0xE7A2 would read as negative.
    out.VendorId = static_cast<std::uint16_t>(info.vendor);
    out.ProductId = static_cast<std::uint16_t>(info.product);
    return true;
}

bool HidrawPlatform::serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) {
    const auto device = find(handle);
    if (!device || !buffer || bufferUnits == 0 || device->ueventPath.empty())
        return false;
    const auto text = readSmallFile(device->ueventPath);
    if (!text)
        return false;
    const auto uevent = HidrawUevent::parse(*text);
    // A device without a serial number has HID_UNIQ present but empty: an empty serial.
    if (!uevent.Uniq)
        return false;
    const std::u16string serial = utf8ToUtf16(*uevent.Uniq);
    std::size_t units = std::min(serial.size(), bufferUnits - 1);
    // Don't leave half a surrogate pair at the cut.
    if (units > 0 && units < serial.size() && serial[units - 1] >= 0xD800 &&
        serial[units - 1] <= 0xDBFF)
        --units;
    std::copy_n(serial.data(), units, buffer);
    buffer[units] = u'\0';
    return true;
}

bool HidrawPlatform::loadDescriptor(Device& device) {
    int size = 0;
    if (::ioctl(device.fd, HIDIOCGRDESCSIZE, &size) < 0) {
        systemFailure("HIDIOCGRDESCSIZE", device.path, errno);
        return false;
    }
    if (size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
        return false;
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<std::uint32_t>(size);
    if (::ioctl(device.fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        systemFailure("HIDIOCGRDESC", device.path, errno);
        return false;
    }
    const auto parsed = HidDescriptorParser::parse(
        std::span<const std::uint8_t>(descriptor->value, static_cast<std::size_t>(size)));
    if (!parsed.ok)
        return false;
    device.setLengths(parsed.caps, parsed.usesReportIds);
    return true;
}

bool HidrawPlatform::capabilities(HidHandle handle, HidCaps& out) {
    const auto device = find(handle);
    if (!device || !loadDescriptor(*device))
        return false;
    out = device->lengths().first;
    return true;
}

bool HidrawPlatform::setInputBufferCount(HidHandle, std::uint32_t) {
    // hidraw's queue length is fixed in the kernel.
    return false;
}

bool HidrawPlatform::inputBufferCount(HidHandle handle, std::uint32_t& out) {
    if (!find(handle))
        return false;
    out = QueuedInputReports;
    return true;
}

namespace {
// The feature ioctls carry the length in the request number's 14-bit size field; a larger length
// would silently turn into another request.
bool fitsIoctlSize(std::size_t length) {
    return length > 0 && length <= _IOC_SIZEMASK;
}
} // namespace

bool HidrawPlatform::getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    const auto device = find(handle);
    if (!device || !buffer || !fitsIoctlSize(length))
        return false;
    const int got = ::ioctl(device->fd, HIDIOCGFEATURE(length), buffer);
    if (got < 0) {
        systemFailure("HIDIOCGFEATURE", device->path, errno);
        return false;
    }
    // The kernel writes only the bytes the device answered (report id first); the rest is ours.
    const std::size_t answered = std::min(static_cast<std::size_t>(got), length);
    std::fill(buffer + answered, buffer + length, std::uint8_t{0});
    return true;
}

bool HidrawPlatform::setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) {
    const auto device = find(handle);
    if (!device || !buffer || !fitsIoctlSize(length))
        return false;
    // The request is declared read-write, so the kernel wants a writable buffer.
    std::vector<std::uint8_t> copy(buffer, buffer + length);
    if (::ioctl(device->fd, HIDIOCSFEATURE(length), copy.data()) < 0) {
        systemFailure("HIDIOCSFEATURE", device->path, errno);
        return false;
    }
    return true;
}

TransferOutcome HidrawPlatform::writeReport(HidHandle handle, const std::uint8_t* data,
                                            std::size_t length, std::uint32_t timeoutMs) {
    const auto device = find(handle);
    if (!device || !data || length == 0 || device->gone)
        return TransferOutcome::Failed;
    // usbhid waits inside write() until the adapter took the report or its own time-out passed,
    // and no signal or cancel ends that wait: the write runs on the device's writer thread, so
    // that our time-out and a cancel give the caller back at once.
    Device* raw = device.get();
    return device->writer.write(
        device,
        [raw](const std::uint8_t* report, std::size_t size) {
            return raw->blockingWrite(report, size);
        },
        data, length, timeoutMs);
}

TransferOutcome HidrawPlatform::Device::blockingWrite(const std::uint8_t* data,
                                                      std::size_t length) {
    for (;;) {
        std::array<pollfd, 2> fds{{{fd, POLLOUT, 0}, {writeCancel, POLLIN, 0}}};
        // hidraw always reports a node as writable: the real wait is inside write(), which
        // blocks until the report went out on the bus or the USB layer gave up.
        const int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            const int error = errno;
            if (classifyErrno(error) == IoError::Interrupted)
                continue;
            systemFailure("poll", path, error);
            return TransferOutcome::Failed;
        }
        // The cancel stays signalled until resetCancel, so a write started after it ends too.
        if (fds[1].revents & POLLIN)
            return TransferOutcome::Completed;
        // Nothing has gone out of a report whose device is gone: that is a failure, not a
        // completion with 0 bytes.
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            gone = true;
            return TransferOutcome::Failed;
        }
        if (fds[0].revents & POLLNVAL)
            return TransferOutcome::Failed;
        if (!(fds[0].revents & POLLOUT))
            continue;

        const ssize_t written = ::write(fd, data, length);
        if (written >= 0) {
            return static_cast<std::size_t>(written) == length ? TransferOutcome::Completed
                                                               : TransferOutcome::Failed;
        }
        const int error = errno;
        if (classifyErrno(error) != IoError::Interrupted &&
            classifyErrno(error) != IoError::WouldBlock)
            systemFailure("write", path, error);
        switch (classifyErrno(error)) {
        case IoError::Interrupted:
            continue;
        case IoError::WouldBlock:
            // The node claimed to be writable; don't spin on that claim.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        case IoError::DeviceGone:
            gone = true;
            return TransferOutcome::Failed;
        case IoError::Other:
            return TransferOutcome::Failed;
        }
    }
}

TransferOutcome HidrawPlatform::readReports(HidHandle handle, std::uint8_t* buffer,
                                            std::size_t length, std::uint32_t timeoutMs,
                                            std::size_t& bytesRead) {
    const auto device = find(handle);
    if (!device || !buffer)
        return TransferOutcome::Failed;
    const auto [caps, usesIds] = device->lengths();
    const std::size_t slot = caps.InputReportLength;
    if (slot < 2 || length < slot)
        return TransferOutcome::Failed;
    // Only a read that was already waiting when the device went ends as an empty completion;
    // one started afterwards gets what is still queued, and fails at once when nothing is.
    pollfd atStart{device->fd, POLLIN, 0};
    const bool goneAtStart = ::poll(&atStart, 1, 0) > 0 && (atStart.revents & (POLLHUP | POLLERR));

    const Deadline deadline(timeoutMs);
    for (;;) {
        std::array<pollfd, 2> fds{{{device->fd, POLLIN, 0}, {device->readCancel, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), deadline.pollTimeout());
        if (ready < 0) {
            const int error = errno;
            if (classifyErrno(error) == IoError::Interrupted)
                continue;
            systemFailure("poll", device->path, error);
            return TransferOutcome::Failed;
        }
        // Not consumed here: the cancel must stay in force until resetCancel.
        if (fds[1].revents & POLLIN) {
            bytesRead = 0;
            return TransferOutcome::Completed;
        }
        if (ready == 0) {
            if (deadline.expired())
                return TransferOutcome::TimedOut;
            continue;
        }
        if (fds[0].revents & POLLNVAL)
            return TransferOutcome::Failed;

        // Reports queued before an unplug are still handed out, so read before looking at
        // the hang-up.
        std::size_t taken = 0;
        bool lost = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        bool failed = false;
        if (fds[0].revents & POLLIN) {
            while (length - taken >= slot) {
                std::uint8_t* report = buffer + taken;
                // Without report ids the kernel hands reports over without an id byte; a 0 in
                // front keeps the layout of numbered reports.
                std::uint8_t* payload = usesIds ? report : report + 1;
                const std::size_t room = usesIds ? slot : slot - 1;
                // One read() is one report; a longer one is cut to the slot by the kernel.
                const ssize_t got = ::read(device->fd, payload, room);
                if (got > 0) {
                    if (!usesIds)
                        report[0] = 0;
                    std::fill(payload + got, report + slot, std::uint8_t{0});
                    taken += slot;
                    continue;
                }
                if (got == 0) {
                    lost = true;
                    break;
                }
                const int errorNumber = errno;
                const IoError error = classifyErrno(errorNumber);
                if (error == IoError::Interrupted)
                    continue;
                if (error != IoError::WouldBlock)
                    systemFailure("read", device->path, errorNumber);
                if (error == IoError::DeviceGone)
                    lost = true;
                else if (error == IoError::Other)
                    failed = true;
                break;
            }
        }
        // Reports read before a hang-up are delivered; the next read then ends on the hang-up.
        if (taken > 0) {
            bytesRead = taken;
            return TransferOutcome::Completed;
        }
        // A read pending when the device went ends as a completion with nothing in it.
        if (lost) {
            device->gone = true;
            if (goneAtStart)
                return TransferOutcome::Failed;
            bytesRead = 0;
            return TransferOutcome::Completed;
        }
        if (failed)
            return TransferOutcome::Failed;
        // Someone else emptied the queue first (a flush): wait again.
    }
}

bool HidrawPlatform::flushInput(HidHandle handle) {
    const auto device = find(handle);
    if (!device)
        return false;
    std::array<std::uint8_t, 1024> scratch{};
    // Bounded, so that a device sending without pause cannot keep us here; the queue holds
    // far fewer reports than this.
    for (int reads = 0; reads < 4096; ++reads) {
        const ssize_t got = ::read(device->fd, scratch.data(), scratch.size());
        if (got > 0)
            continue;
        if (got == 0)
            return false;
        const int error = errno;
        switch (classifyErrno(error)) {
        case IoError::Interrupted:
            continue;
        case IoError::WouldBlock:
            return true;
        case IoError::DeviceGone:
        case IoError::Other:
            systemFailure("read", device->path, error);
            return false;
        }
    }
    return true;
}

void HidrawPlatform::cancel(HidHandle handle, TransferKind kind) {
    if (const auto device = find(handle)) {
        signalEvent(device->cancelFd(kind));
        if (kind == TransferKind::Write)
            device->writer.cancel();
    }
}

void HidrawPlatform::resetCancel(HidHandle handle, TransferKind kind) {
    if (const auto device = find(handle)) {
        const int fd = device->cancelFd(kind);
        while (isReadable(fd))
            drainEvent(fd);
        if (kind == TransferKind::Write)
            device->writer.resetCancel();
    }
}

OsVersion HidrawPlatform::osVersion() {
    return OsVersion{};
}

std::optional<std::vector<HidAccessProblem>>
HidrawPlatform::inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) {
    std::vector<HidAccessProblem> problems;
    for (const unsigned number : hidrawNodes()) {
        const std::string name = "hidraw" + std::to_string(number);
        // The ids come from sysfs, which anyone may read: no need to open the node to know.
        const auto text = readSmallFile(m_sysfsRoot + "/class/hidraw/" + name + "/device/uevent");
        if (!text)
            continue;
        const auto uevent = HidrawUevent::parse(*text);
        if (!uevent.HidId || uevent.HidId->VendorId != vendorId ||
            uevent.HidId->ProductId != productId)
            continue;
        const std::string path = m_devRoot + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            systemFailure("open", path, error);
            const bool denied = error == EACCES || error == EPERM;
            problems.push_back(
                {path,
                 denied ? HidAccessProblem::Reason::Permission : HidAccessProblem::Reason::Other,
                 error});
            continue;
        }
        // Taken and given back at once: a free adapter is no problem (it was plugged in after
        // the list was made).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            systemFailure("flock", path, error);
            problems.push_back({path,
                                error == EWOULDBLOCK ? HidAccessProblem::Reason::InUse
                                                     : HidAccessProblem::Reason::Other,
                                error});
        }
        ::close(fd);
    }
    return problems;
}

std::string HidrawPlatform::lastError() const {
    return t_lastError;
}

bool HidrawPlatform::startNotices(DeviceNoticeHandler handler) {
    // Kept once made: a handler may restart notices from inside a notice.
    if (!m_watcher)
        m_watcher = std::make_unique<UdevNoticeWatcher>();
    return m_watcher->start(std::move(handler));
}

void HidrawPlatform::stopNotices() {
    if (m_watcher)
        m_watcher->stop();
}
