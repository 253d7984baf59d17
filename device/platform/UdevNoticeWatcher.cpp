#include "device/platform/UdevNoticeWatcher.h"

#include "common/LogCategories.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <vector>

namespace {

bool isHexDigits(std::string_view text, std::size_t minimum, std::size_t maximum) {
    return text.size() >= minimum && text.size() <= maximum &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The kernel names a hid device "%04X:%04X:%04X.%04X": bus, vendor, product, instance.
bool isHidDeviceName(std::string_view name) {
    if (name.size() < 19 || name[4] != ':' || name[9] != ':' || name[14] != '.')
        return false;
    return isHexDigits(name.substr(0, 4), 4, 4) && isHexDigits(name.substr(5, 4), 4, 4) &&
           isHexDigits(name.substr(10, 4), 4, 4) && isHexDigits(name.substr(15), 4, 8);
}

std::vector<std::string_view> pathSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        if (!segment.empty())
            segments.push_back(segment);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return segments;
}

} // namespace

UdevNoticeWatcher::UdevNoticeWatcher(std::string udevControlPath)
    : m_udevControlPath(std::move(udevControlPath)) {}

UdevNoticeWatcher::~UdevNoticeWatcher() {
    stop();
}

const char* UdevNoticeWatcher::monitorSource(const std::string& udevControlPath) {
    std::error_code error;
    return std::filesystem::exists(udevControlPath, error) ? "udev" : "kernel";
}

std::optional<std::string> UdevNoticeWatcher::interfaceName(std::string_view devpath) {
    // .../<hid device>/hidraw/hidrawN
    const auto segments = pathSegments(devpath);
    if (segments.size() < 3)
        return std::nullopt;
    const std::string_view node = segments[segments.size() - 1];
    const std::string_view hidraw = segments[segments.size() - 2];
    const std::string_view hid = segments[segments.size() - 3];
    const std::string_view number = node.substr(std::min<std::size_t>(6, node.size()));
    if (hidraw != "hidraw" || node.substr(0, 6) != "hidraw" || number.empty() ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        !isHidDeviceName(hid))
        return std::nullopt;
    // Lower-case ids, so that the adapter's names start with the prefix the window compares.
    return "\\\\?\\HID#Vid_" + lowerCase(hid.substr(5, 4)) + "&Pid_" +
           lowerCase(hid.substr(10, 4)) + "#" + std::string(hid);
}

std::optional<DeviceNotice> UdevNoticeWatcher::notice(std::string_view action,
                                                      std::string_view devpath) {
    std::uint32_t event = 0;
    if (action == "add")
        event = DeviceArrivalEvent;
    else if (action == "remove")
        event = DeviceRemoveCompleteEvent;
    else
        return std::nullopt;
    auto name = interfaceName(devpath);
    if (!name)
        return std::nullopt;
    return DeviceNotice{event, DeviceTypeInterface, std::move(*name)};
}

bool UdevNoticeWatcher::start(DeviceNoticeHandler handler) {
    stop();
    // The monitor's socket is watched by the calling thread's event loop; without one there is
    // nobody to deliver notices.
    if (!handler)
        return false;
    if (!QAbstractEventDispatcher::instance()) {
        logFailure(lcUdev(), "start", QStringLiteral("notices"),
                   QStringLiteral("no event loop on this thread"));
        return false;
    }

    m_udev = udev_new();
    if (!m_udev) {
        logSystemFailure(lcUdev(), "udev_new", "", errno);
        return false;
    }
    const char* source = monitorSource(m_udevControlPath);
    m_monitor = udev_monitor_new_from_netlink(m_udev, source);
    if (!m_monitor) {
        logSystemFailure(lcUdev(), "udev_monitor_new_from_netlink", source, errno);
        release();
        return false;
    }
    // These answer a negative errno.
    int result = udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr);
    if (result < 0) {
        logSystemFailure(lcUdev(), "udev_monitor_filter_add_match_subsystem_devtype", "hidraw",
                         -result);
        release();
        return false;
    }
    result = udev_monitor_enable_receiving(m_monitor);
    if (result < 0) {
        logSystemFailure(lcUdev(), "udev_monitor_enable_receiving", source, -result);
        release();
        return false;
    }
    result = udev_monitor_get_fd(m_monitor);
    if (result < 0) {
        logSystemFailure(lcUdev(), "udev_monitor_get_fd", source, -result);
        release();
        return false;
    }

    m_handler = std::move(handler);
    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { receive(); });
    return true;
}

void UdevNoticeWatcher::stop() {
    ++m_generation;
    m_handler = nullptr;
    release();
}

void UdevNoticeWatcher::release() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // Stopped from inside its own activation: the notifier may not be deleted under itself.
        if (m_dispatchDepth > 0)
            m_notifier->deleteLater();
        else
            delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_monitor)
        m_monitor = udev_monitor_unref(m_monitor);
    if (m_udev)
        m_udev = udev_unref(m_udev);
}

void UdevNoticeWatcher::receive() {
    if (!m_monitor)
        return;
    // Everything waiting is taken before any handler runs: a handler may stop the watch.
    std::vector<DeviceNotice> notices;
    errno = 0;
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const char* action = udev_device_get_action(device);
        const char* devpath = udev_device_get_devpath(device);
        if (action && devpath) {
            if (auto made = notice(action, devpath))
                notices.push_back(std::move(*made));
        }
        udev_device_unref(device);
        errno = 0;
    }
    // The monitor's socket is non-blocking: EAGAIN just means everything was taken.
    if (errno != 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        logSystemFailure(lcUdev(), "udev_monitor_receive_device", "", errno);

    const unsigned generation = m_generation;
    const DeviceNoticeHandler handler = m_handler;
    ++m_dispatchDepth;
    for (const DeviceNotice& each : notices) {
        if (m_generation != generation)
            break;
        handler(each);
    }
    --m_dispatchDepth;
}
