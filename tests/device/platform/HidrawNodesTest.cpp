#include "device/platform/HidrawNodes.h"
#include "device/platform/HidrawPlatform.h"
#include "tests/support/UnprivilegedFileAccess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(HidrawNodes, HidrawNumber) {
    EXPECT_EQ(HidrawNodes::hidrawNumber("hidraw0"), 0u);
    EXPECT_EQ(HidrawNodes::hidrawNumber("hidraw17"), 17u);
    EXPECT_EQ(HidrawNodes::hidrawNumber("hidraw"), std::nullopt);
    EXPECT_EQ(HidrawNodes::hidrawNumber("hidraw+1"), std::nullopt);
    EXPECT_EQ(HidrawNodes::hidrawNumber("hidraw99999999999999999999"), std::nullopt);
    EXPECT_EQ(HidrawNodes::hidrawNumber("xhidraw1"), std::nullopt);
}

// Which adapter nodes cannot be opened, and why: the open refused (no permission, no node) or
// the lock held elsewhere. A free adapter, another vendor's device and a node without uevent
// are no problem. Run as an ordinary user, since root opens everything.
TEST(HidrawNodes, InaccessibleAdaptersAndWhy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(UnprivilegedFileAccess::Share(dir.path(), 0755));
    const fs::path sys = fs::path(dir.path().toStdString()) / "sys";
    const fs::path dev = fs::path(dir.path().toStdString()) / "dev";
    fs::create_directories(dev);
    // A node's sysfs entry with its uevent (if any), and its /dev file (if wanted).
    const auto node = [&](unsigned number, const char* uevent, bool withFile = true) {
        const std::string name = "hidraw" + std::to_string(number);
        fs::create_directories(sys / "class" / "hidraw" / name / "device");
        if (uevent)
            std::ofstream(sys / "class" / "hidraw" / name / "device" / "uevent") << uevent;
        const fs::path path = dev / name;
        if (withFile)
            std::ofstream(path).flush();
        return path.string();
    };
    const char* adapter = "HID_ID=0003:0000E7A2:00004D15\n";
    const std::string freeNode = node(0, adapter);
    const std::string denied = node(1, adapter);
    const std::string held = node(2, adapter);
    const std::string missing = node(3, adapter, false);
    node(4, "HID_ID=0003:0000046D:0000C52B\n");
    node(5, nullptr);
    ASSERT_TRUE(UnprivilegedFileAccess::Share(QString::fromStdString(freeNode), 0666));
    ASSERT_TRUE(UnprivilegedFileAccess::Share(QString::fromStdString(held), 0666));
    fs::permissions(denied, fs::perms::none);

    HidrawPlatform holder(sys.string(), dev.string());
    const HidHandle holding = holder.openExclusive(held);
    ASSERT_NE(holding, InvalidHidHandle);

    UnprivilegedFileAccess user;
    ASSERT_TRUE(user.active());
    HidrawPlatform platform(sys.string(), dev.string());
    using Reason = HidAccessProblem::Reason;
    EXPECT_EQ(platform.inaccessibleInterfaces(0xE7A2, 0x4D15),
              (std::vector<HidAccessProblem>{{denied, Reason::Permission, EACCES},
                                             {held, Reason::InUse, EWOULDBLOCK},
                                             {missing, Reason::Other, ENOENT}}));
    holder.close(holding);
}

// The serial of a node that cannot be opened comes from sysfs: HID_UNIQ, UTF-8 made UTF-16.
TEST(HidrawNodes, SerialWithoutOpeningTheNode) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path sys = fs::path(dir.path().toStdString()) / "sys";
    const std::string dev = dir.path().toStdString() + "/dev";
    const auto node = [&](unsigned number, const char* uevent) {
        const fs::path device = sys / "class" / "hidraw" / ("hidraw" + std::to_string(number)) /
                                "device";
        fs::create_directories(device);
        std::ofstream(device / "uevent") << uevent;
    };
    node(0, "HID_ID=0003:0000E7A2:00004D15\nHID_UNIQ=WDK-\xc3\xa9-7\n");
    node(1, "HID_ID=0003:0000E7A2:00004D15\n");
    HidrawPlatform platform(sys.string(), dev);
    EXPECT_EQ(platform.serialWithoutOpening(dev + "/hidraw0"), std::u16string(u"WDK-\u00e9-7"));
    EXPECT_EQ(platform.serialWithoutOpening(dev + "/hidraw1"), std::nullopt);
    EXPECT_EQ(platform.serialWithoutOpening(dev + "/hidraw2"), std::nullopt);
    EXPECT_EQ(platform.serialWithoutOpening("/elsewhere/hidraw0"), std::nullopt);
    EXPECT_EQ(platform.serialWithoutOpening(dev + "/../dev/hidraw0"), std::nullopt);
}

} // namespace
