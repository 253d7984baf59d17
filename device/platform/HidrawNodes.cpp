#include "device/platform/HidrawNodes.h"

#include "common/FileAccess.h"
#include "device/platform/HidrawError.h"
#include "device/platform/HidrawUevent.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

HidrawNodes::HidrawNodes(std::string sysfsRoot, std::string devRoot)
    : m_sysfsRoot(std::move(sysfsRoot)), m_devRoot(std::move(devRoot)) {}

std::optional<unsigned> HidrawNodes::hidrawNumber(std::string_view name) {
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

std::vector<unsigned> HidrawNodes::numbers() const {
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
        HidrawError::report("opendir", folder.string(), error.value());
    // Directory order is arbitrary and a text sort puts hidraw10 before hidraw2.
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<std::string> HidrawNodes::pathAt(unsigned index) const {
    const auto present = numbers();
    if (index >= present.size())
        return std::nullopt;
    return m_devRoot + "/hidraw" + std::to_string(present[index]);
}

std::string HidrawNodes::ueventPathFor(const std::string& path, int fd) const {
    const std::string name = std::filesystem::path(path).filename().string();
    if (hidrawNumber(name))
        return m_sysfsRoot + "/class/hidraw/" + name + "/device/uevent";
    // A node reached under another name (a symlink, a udev alias) is found by its device number.
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        HidrawError::report("fstat", path, errno);
    else if (S_ISCHR(info.st_mode)) {
        return m_sysfsRoot + "/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
               std::to_string(minor(info.st_rdev)) + "/device/uevent";
    }
    return {};
}

std::optional<std::string> HidrawNodes::readSmallFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        HidrawError::report("open", path, errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        HidrawError::report("read", path, errno);
        return std::nullopt;
    }
    return text.str();
}

std::optional<std::string> HidrawNodes::uniqOf(const std::string& path) const {
    const std::string prefix = m_devRoot + "/";
    if (path.rfind(prefix, 0) != 0 || !hidrawNumber(path.substr(prefix.size())))
        return std::nullopt;
    const auto text = readSmallFile(m_sysfsRoot + "/class/hidraw/" + path.substr(prefix.size()) +
                                    "/device/uevent");
    if (!text)
        return std::nullopt;
    return HidrawUevent::parse(*text).Uniq;
}

std::vector<HidAccessProblem> HidrawNodes::inaccessible(std::uint16_t vendorId,
                                                        std::uint16_t productId) const {
    std::vector<HidAccessProblem> problems;
    for (const unsigned number : numbers()) {
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
        // Locked and given back at once: a free adapter is no problem (it was plugged in after
        // the list was made).
        FileAccess::Failure failure;
        const int fd = FileAccess::openLocked(path.c_str(), O_RDWR | O_NONBLOCK, failure);
        if (fd >= 0) {
            FileAccess::close(fd);
            continue;
        }
        HidrawError::report(failure.call(), path, failure.error);
        auto why = HidAccessProblem::Reason::Other;
        if (!failure.locking && (failure.error == EACCES || failure.error == EPERM))
            why = HidAccessProblem::Reason::Permission;
        else if (failure.locking && failure.error == EWOULDBLOCK)
            why = HidAccessProblem::Reason::InUse;
        problems.push_back({path, why, failure.error});
    }
    return problems;
}
