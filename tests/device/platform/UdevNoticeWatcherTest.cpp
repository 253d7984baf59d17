#include "device/platform/UdevNoticeWatcher.h"
#include "device/WendrakeTypes.h"
#include "device/platform/HidrawPlatform.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

struct NameCase {
    const char* name;
    const char* devpath;
    std::optional<std::string> expected;
};

class UdevInterfaceName : public ::testing::TestWithParam<NameCase> {};

TEST_P(UdevInterfaceName, FromDevpath) {
    EXPECT_EQ(UdevNoticeWatcher::interfaceName(GetParam().devpath), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Devpaths, UdevInterfaceName,
    ::testing::Values(
        NameCase{"AdapterOnUsb",
                 "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:E7A2:4D15.0007/hidraw/"
                 "hidraw3",
                 "\\\\?\\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0007"},
        NameCase{"AdapterOnUhid", "/devices/virtual/misc/uhid/0003:E7A2:4D15.0001/hidraw/hidraw0",
                 "\\\\?\\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0001"},
        NameCase{"OtherVendor",
                 "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.2/0003:046D:C52B.0003/hidraw/"
                 "hidraw12",
                 "\\\\?\\HID#Vid_046d&Pid_c52b#0003:046D:C52B.0003"},
        NameCase{"BluetoothLongInstance",
                 "/devices/virtual/misc/uhid/0005:054C:09CC.1000A/hidraw/hidraw1",
                 "\\\\?\\HID#Vid_054c&Pid_09cc#0005:054C:09CC.1000A"},
        NameCase{"TrailingSlash", "/devices/x/0003:E7A2:4D15.0002/hidraw/hidraw2/",
                 "\\\\?\\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0002"},
        NameCase{"NoHidrawLevel", "/devices/x/0003:E7A2:4D15.0002/hidraw2", std::nullopt},
        NameCase{"NodeNotNumbered", "/devices/x/0003:E7A2:4D15.0002/hidraw/hidrawX", std::nullopt},
        NameCase{"NodeWithoutNumber", "/devices/x/0003:E7A2:4D15.0002/hidraw/hidraw", std::nullopt},
        NameCase{"ParentNotAHidDevice", "/devices/x/1-2:1.0/hidraw/hidraw2", std::nullopt},
        NameCase{"ShortVendor", "/devices/x/0003:E7A:4D15.0002/hidraw/hidraw2", std::nullopt},
        NameCase{"WrongSeparators", "/devices/x/0003-E7A2-4D15-0002/hidraw/hidraw2", std::nullopt},
        NameCase{"NotHex", "/devices/x/0003:E7G2:4D15.0002/hidraw/hidraw2", std::nullopt},
        NameCase{"NoInstance", "/devices/x/0003:E7A2:4D15./hidraw/hidraw2", std::nullopt},
        NameCase{"OnlyTheTail", "hidraw/hidraw2", std::nullopt},
        NameCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UdevNotice, AdapterNamesPassTheWindowsPrefixTestAndOthersDont) {
    const auto matches = [](const std::string& name) {
        // The window compares the first 25 characters, case-sensitively.
        return name.size() >= 25 && std::memcmp(name.data(), AdapterPathPrefix, 25) == 0;
    };
    const auto adapter =
        UdevNoticeWatcher::interfaceName("/devices/v/0003:E7A2:4D15.0009/hidraw/hidraw4");
    const auto other =
        UdevNoticeWatcher::interfaceName("/devices/v/0003:E7A2:4D16.000A/hidraw/hidraw5");
    ASSERT_TRUE(adapter && other);
    EXPECT_TRUE(matches(*adapter));
    EXPECT_FALSE(matches(*other));
}

struct ActionCase {
    const char* action;
    std::uint32_t event; // 0: no notice
};

class UdevNoticeActions : public ::testing::TestWithParam<ActionCase> {};

TEST_P(UdevNoticeActions, EventCodeAndType) {
    const auto n = UdevNoticeWatcher::notice(GetParam().action,
                                             "/devices/v/0003:E7A2:4D15.0009/hidraw/hidraw4");
    if (GetParam().event == 0) {
        EXPECT_FALSE(n);
        return;
    }
    ASSERT_TRUE(n);
    EXPECT_EQ(n->EventCode, GetParam().event);
    EXPECT_EQ(n->DeviceType, DeviceTypeInterface);
    EXPECT_EQ(n->Name, "\\\\?\\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0009");
}

INSTANTIATE_TEST_SUITE_P(Actions, UdevNoticeActions,
                         ::testing::Values(ActionCase{"add", 0x8000}, ActionCase{"remove", 0x8004},
                                           ActionCase{"change", 0}, ActionCase{"bind", 0},
                                           ActionCase{"ADD", 0}, ActionCase{"", 0}),
                         [](const ::testing::TestParamInfo<ActionCase>& info) {
                             const std::string action = info.param.action;
                             return action.empty() ? std::string("NoAction") : action;
                         });

TEST(UdevNotice, MalformedDevpathGivesNoNotice) {
    EXPECT_FALSE(UdevNoticeWatcher::notice("add", "/devices/virtual/misc/uhid"));
    EXPECT_FALSE(UdevNoticeWatcher::notice("remove", "/devices/x/1-2:1.0/hidraw/hidraw2"));
}

TEST(UdevNoticeWatcher, SourceFollowsTheUdevControlSocket) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string control = dir.filePath("control").toStdString();
    EXPECT_STREQ(UdevNoticeWatcher::monitorSource(control), "kernel");
    std::ofstream(control) << "";
    EXPECT_STREQ(UdevNoticeWatcher::monitorSource(control), "udev");
}

TEST(UdevNoticeWatcher, StartWithoutHandlerRefusesAndStopIsAlwaysSafe) {
    UdevNoticeWatcher watcher;
    EXPECT_FALSE(watcher.start(nullptr));
    EXPECT_FALSE(watcher.isRunning());
    watcher.stop();
    watcher.stop();
}

// Whether a monitor can be had depends on the machine (containers often refuse netlink); either
// way start answers truthfully and stop leaves nothing running.
TEST(UdevNoticeWatcher, StartAnswersWhetherItRunsAndStopEndsIt) {
    UdevNoticeWatcher watcher;
    const bool started = watcher.start([](const DeviceNotice&) {});
    EXPECT_EQ(watcher.isRunning(), started);
    // Restarting replaces the watch rather than adding one.
    EXPECT_EQ(watcher.start([](const DeviceNotice&) {}), started);
    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
}

TEST(UdevNoticeWatcher, PlatformNoticesStartAndStopWithoutHarm) {
    HidrawPlatform platform("/nonexistent-sys", "/nonexistent-dev");
    platform.startNotices([](const DeviceNotice&) {});
    platform.stopNotices();
    platform.stopNotices();
    EXPECT_FALSE(platform.startNotices(nullptr));
}

} // namespace
