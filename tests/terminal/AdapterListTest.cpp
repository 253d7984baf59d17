#include "tests/support/TerminalWindowTest.h"

#include <QComboBox>

#include <gtest/gtest.h>

#include <string>

// The adapter list of the terminal window: the notices that rebuild it, rebuilds while
// connected, and which adapter a pick then connects.

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;

// ---- Device notices ----

struct NoticeCase {
    const char* name;
    std::uint32_t event;
    std::uint32_t deviceType;
    std::string interfaceName;
    bool refreshes;
};

class DeviceNoticeTest : public TerminalWindowTest,
                         public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(DeviceNoticeTest, RefreshesOnlyForAdapterNotices) {
    addAdapter("SER-A");
    openWindow();
    list(Id::AdapterList)->setCurrentIndex(-1); // a refresh selects entry 0 again

    platform.RaiseNotice({GetParam().event, GetParam().deviceType, GetParam().interfaceName});

    EXPECT_EQ(list(Id::AdapterList)->currentIndex(), GetParam().refreshes ? 0 : -1);
    EXPECT_TRUE(window->OnDeviceChange(GetParam().event, {}));
}

INSTANTIATE_TEST_SUITE_P(
    Notices, DeviceNoticeTest,
    ::testing::Values(
        NoticeCase{"Arrival", 0x8000, 5, R"(\\?\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0001)", true},
        NoticeCase{"Removal", 0x8004, 5, R"(\\?\HID#Vid_e7a2&Pid_4d15#7)", true},
        NoticeCase{"ExactlyThePrefix", 0x8000, 5, R"(\\?\HID#Vid_e7a2&Pid_4d15)", true},
        NoticeCase{"LowerCase", 0x8000, 5, R"(\\?\hid#vid_e7a2&pid_4d15#7)", false},
        NoticeCase{"UpperCaseHex", 0x8000, 5, R"(\\?\HID#Vid_E7A2&Pid_4D15#7)", false},
        NoticeCase{"OtherDevice", 0x8000, 5, R"(\\?\HID#Vid_046d&Pid_c077#7)", false},
        NoticeCase{"ShorterThanThePrefix", 0x8000, 5, R"(\\?\HID#Vid_e7a2&Pid_4d1)", false},
        NoticeCase{"OtherEvent", 0x8001, 5, R"(\\?\HID#Vid_e7a2&Pid_4d15#7)", false},
        NoticeCase{"OtherDeviceType", 0x8000, 3, R"(\\?\HID#Vid_e7a2&Pid_4d15#7)", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalWindowTest, PluggingAndUnpluggingAdaptersRebuildsTheList) {
    openWindow();
    EXPECT_EQ(list(Id::AdapterList)->count(), 0);

    addAdapter("SER-A");
    platform.AddOtherDevice(0x046D, 0xC077);
    addAdapter("SER-B");
    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-A", "SER-B"}));

    platform.Unplug(0);
    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-B"}));
    EXPECT_EQ(list(Id::AdapterList)->currentIndex(), 0);
}

TEST_F(TerminalWindowTest, RemovingTheConnectedAdapterRebuildsTheListAndKeepsTheConnection) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    addAdapter("SER-B");
    openWindow();
    clickConnect();
    ASSERT_TRUE(window->Adapter().IsConnected());

    platform.Unplug(adapter);

    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-B"}));
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_EQ(button(Id::Connect)->text(), "Disconnect");
    EXPECT_FALSE(list(Id::AdapterList)->isEnabled());
}

TEST_F(TerminalWindowTest, ThirdAdapterWhileOneIsConnectedListsTheOtherTwo) {
    addAdapter("SER-A");
    addAdapter("SER-B");
    openWindow();
    clickConnect(); // SER-A

    addAdapter("SER-C");

    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-B", "SER-C"}));
    EXPECT_FALSE(list(Id::AdapterList)->isEnabled());

    // The disconnect does not rebuild the list: SER-A stays missing until the next notice.
    clickConnect();
    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-B", "SER-C"}));
    EXPECT_TRUE(list(Id::AdapterList)->isEnabled());
}

// After a list rebuilt while connected, the entries no longer line up with the enumeration (the
// freed adapter is back in it): the connect opens the serial that was picked, or none.
struct PickCase {
    const char* name;
    int entry;                 // picked in the list {SER-B, SER-C}
    const char* heldElsewhere; // taken by another program before the connect
    const char* opened;        // nullptr: nothing opened, "No device selected"
};

void PrintTo(const PickCase& c, std::ostream* os) {
    *os << c.name;
}

class PickAfterRebuildTest : public TerminalWindowTest,
                             public ::testing::WithParamInterface<PickCase> {};

TEST_P(PickAfterRebuildTest, ConnectsTheSerialThatWasPicked) {
    const PickCase& c = GetParam();
    std::map<std::string, AdapterFirmware*> adapters;
    for (const char* serial : {"SER-A", "SER-B"})
        adapters[serial] = &addAdapter(serial);
    openWindow();
    clickConnect(); // SER-A
    adapters["SER-C"] = &addAdapter("SER-C");
    clickConnect(); // disconnect; the list keeps {SER-B, SER-C}
    ASSERT_EQ(entries(Id::AdapterList), QStringList({"SER-B", "SER-C"}));
    if (c.heldElsewhere)
        platform.HoldOpenElsewhere(*adapters[c.heldElsewhere]);

    list(Id::AdapterList)->setCurrentIndex(c.entry);
    clickConnect();

    for (const auto& [serial, adapter] : adapters)
        EXPECT_EQ(platform.IsOpen(platform.IdOf(*adapter)), c.opened && serial == c.opened)
            << serial;
    if (c.opened) {
        EXPECT_TRUE(window->Adapter().IsConnected());
        EXPECT_TRUE(prompts.Prompts.empty());
    } else {
        EXPECT_FALSE(window->Adapter().IsConnected());
        ASSERT_FALSE(prompts.Prompts.empty());
        EXPECT_EQ(prompts.Prompts[0].Text, "No device selected");
        // The picked adapter is gone: the list shows what can be opened now.
        EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-A", "SER-C"}));
        EXPECT_EQ(list(Id::AdapterList)->currentIndex(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Picks, PickAfterRebuildTest,
                         ::testing::Values(PickCase{"FirstEntry", 0, nullptr, "SER-B"},
                                           PickCase{"SecondEntry", 1, nullptr, "SER-C"},
                                           PickCase{"PickedAdapterTakenMeanwhile", 0, "SER-B",
                                                    nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
