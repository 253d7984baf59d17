#pragma once

#include "device/platform/HidPlatform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The hidraw nodes present, as sysfs lists them: their numbers and paths, the uevent file that
// describes the device behind a node, and which nodes with given ids cannot be opened now.
// Reads only sysfs and opens nothing for good.
class HidrawNodes {
public:
    HidrawNodes(std::string sysfsRoot, std::string devRoot);

    // The N of a node name "hidrawN"; nullopt for any other name.
    static std::optional<unsigned> hidrawNumber(std::string_view name);
    // The hidraw node numbers present under the sysfs root, in numeric order.
    std::vector<unsigned> numbers() const;
    // The node path at this position of the numeric order; nullopt past the end.
    std::optional<std::string> pathAt(unsigned index) const;
    // The uevent file of the device behind an open node (fd), found by its name or, for a node
    // reached under another name, by its device number; empty when it cannot be told.
    std::string ueventPathFor(const std::string& path, int fd) const;
    // The whole of a small sysfs file; nullopt (the failure reported) when it cannot be read.
    static std::optional<std::string> readSmallFile(const std::string& path);

    // HID_UNIQ of the device behind the node at path ("/dev/hidrawN"), from sysfs, which anyone
    // may read; nullopt when there is none.
    std::optional<std::string> uniqOf(const std::string& path) const;
    // The nodes with these ids that this process cannot open or lock now, and why.
    std::vector<HidAccessProblem> inaccessible(std::uint16_t vendorId,
                                               std::uint16_t productId) const;

private:
    const std::string m_sysfsRoot;
    const std::string m_devRoot;
};
