#include "config/SettingsFile.h"
#include "tests/support/AdapterSettings.h"
#include "tests/support/WindowFixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;

const QString NotConnected = QStringLiteral("NOT CONNECTED");

// Records the URLs handed to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> Urls;

public slots:
    void open(const QUrl& url) { Urls.push_back(url); }
};

class TerminalWindowTest : public WindowFixture<> {
protected:
    QStringList entries(int id) const {
        QStringList items;
        for (int i = 0; i < list(id)->count(); ++i)
            items << list(id)->itemText(i);
        return items;
    }

    void clickConnect() { button(Id::Connect)->click(); }

    // The window as a not-connected user sees it.
    void expectNotConnected() const {
        EXPECT_FALSE(window->Adapter().IsConnected());
        EXPECT_EQ(button(Id::Connect)->text(), "Connect");
        EXPECT_FALSE(button(Id::Connect)->isChecked());
        EXPECT_FALSE(window->MenuAction(Menu::Connect)->isChecked());
        EXPECT_TRUE(list(Id::AdapterList)->isEnabled());
        EXPECT_EQ(text(Id::StatusLine), NotConnected);
        EXPECT_FALSE(window->IsPinPollActive());
        for (int id : {Id::Gpio0Action, Id::Gpio1Action, Id::Q3ResetAction}) {
            EXPECT_EQ(list(id)->currentIndex(), 2) << id;
            EXPECT_FALSE(list(id)->isEnabled()) << id;
        }
    }

    void expectOnlyError(const QString& message) const {
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, message);
        EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Error);
        EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::Ok);
    }

    std::vector<std::string> wire() const { return platform.WireSummary(); }
};

// ---- Start ----

TEST_F(TerminalWindowTest, StartsNotConnectedWithTheAdapterListFilled) {
    addAdapter("SER-A");
    addAdapter("SER-B");
    openWindow();

    expectNotConnected();
    EXPECT_EQ(window->windowTitle(), "Orvellan Wendrake Terminal");
    EXPECT_EQ(entries(Id::AdapterList), QStringList({"SER-A", "SER-B"}));
    EXPECT_EQ(list(Id::AdapterList)->currentIndex(), 0);
    EXPECT_EQ(text(Id::Gpio0Label), "GPIO0");
    EXPECT_EQ(text(Id::Gpio1Label), "GPIO1");
    for (int id : {Id::Gpio0State, Id::Gpio1State, Id::Q3ResetState})
        EXPECT_EQ(text(id), "") << id;
    EXPECT_EQ(entries(Id::Gpio0Action),
              QStringList({"Set GPIO0 Logic Low", "Set GPIO0 Logic High", "Do Not Set GPIO0"}));
    EXPECT_EQ(
        entries(Id::Q3ResetAction),
        QStringList({"Set Q3 Reset Logic Low", "Set Q3 Reset Logic High", "Do Not Set Q3 Reset"}));
    EXPECT_TRUE(window->IsAsciiFormat());
    EXPECT_TRUE(window->MenuAction(Menu::ClearSentTransferData)->isChecked());
    EXPECT_FALSE(window->MenuAction(Menu::AutoSendTransferText)->isChecked());
    EXPECT_EQ(window->Settings(), TerminalSettings{});
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_TRUE(wire().empty()); // listing adapters sends no report

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->focusWidget(), window->Control(Id::TransferBox));
}

TEST_F(TerminalWindowTest, LoadsTheSettingsFileWithTheSendOptionMarks) {
    TerminalSettings saved;
    saved.Uart.BaudRate = 9600;
    saved.ToggleResetOnConnect = 0;
    saved.ClearSentTransferData = 0;
    saved.AutoSendTransferText = 1;
    SettingsFile(dir.path()).SaveSettings(saved);

    openWindow();

    EXPECT_EQ(window->Settings(), saved);
    EXPECT_FALSE(window->MenuAction(Menu::ClearSentTransferData)->isChecked());
    EXPECT_TRUE(window->MenuAction(Menu::AutoSendTransferText)->isChecked());
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(dir.path()).canonicalPath());
}

// ---- Connect failures ----

TEST_F(TerminalWindowTest, ConnectWithoutAdapterSaysNoDeviceSelected) {
    openWindow();
    clickConnect();
    expectOnlyError("No device selected");
    expectNotConnected();
    EXPECT_TRUE(wire().empty());
}

TEST_F(TerminalWindowTest, ConnectWithNoEntrySelectedSaysNoDeviceSelected) {
    addAdapter("SER-A");
    openWindow();
    list(Id::AdapterList)->setCurrentIndex(-1);
    window->MenuAction(Menu::Connect)->trigger();
    expectOnlyError("No device selected");
    expectNotConnected();
    EXPECT_FALSE(platform.IsOpen(0));
}

struct ConnectFailure {
    const char* name;
    std::function<void(EmulatedHidPlatform&, AdapterFirmware&)> arrange;
    const char* message;
};

class ConnectFailureTest : public TerminalWindowTest,
                           public ::testing::WithParamInterface<ConnectFailure> {};

TEST_P(ConnectFailureTest, ShowsItsMessageAndLeavesNothingOpenOrRunning) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    adapter.SetUart(uart(19200, 0, 1, 8, 0));
    openWindow();
    GetParam().arrange(platform, adapter);

    clickConnect();

    expectOnlyError(GetParam().message);
    expectNotConnected();
    EXPECT_FALSE(platform.IsOpen(platform.IdOf(adapter)));
    EXPECT_FALSE(adapter.UartEnabled());
    EXPECT_EQ(adapter.Uart(), uart(19200, 0, 1, 8, 0)); // the adapter's own configuration
}

INSTANTIATE_TEST_SUITE_P(
    Branches, ConnectFailureTest,
    ::testing::Values(
        ConnectFailure{"OpenFailed",
                       [](EmulatedHidPlatform& p, AdapterFirmware& a) { p.HoldOpenElsewhere(a); },
                       "Error connecting to device"},
        ConnectFailure{"ModeRefused",
                       [](EmulatedHidPlatform&, AdapterFirmware& a) { a.QueueModeAnswers({1}); },
                       "Error connecting to device"},
        // An unknown mode state leaves the device open; the tear-down must close it.
        ConnectFailure{"UnknownModeLeavesDeviceOpen",
                       [](EmulatedHidPlatform&, AdapterFirmware& a) { a.QueueModeAnswers({7}); },
                       "Error connecting to device"},
        ConnectFailure{"UartEnableFailed",
                       [](EmulatedHidPlatform& p, AdapterFirmware&) {
                           p.FailFeatureReportId(AdapterFirmware::UartEnableReport);
                       },
                       "Error enabling UART, closing device"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Connect sequence on the wire ----

TEST_F(TerminalWindowTest, ConnectSwitchesFlowControlOffFirstAndDisconnectRestoresIt) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    adapter.SetUart(uart(9600, 2, 1, 7, 1));
    openWindow();

    clickConnect();

    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_THAT(wire(),
                ElementsAre(
                    // handshake
                    "set 40 02", "get 42 00", "set 41 00", "get 42 01",
                    // the adapter's configuration saved, flow control off, UART on
                    "get 46 80 25 00 00 02 01 07 01", "set 46 80 25 00 00 02 00 07 01", "set 45 01",
                    // Q3 Reset pulse
                    "set 4b fb 04", "set 4b 04 04",
                    // settings: pins, then UART (115200 8N1)
                    "set 49 00 00 00 00", "set 46 00 c2 01 00 00 00 08 00",
                    // status line and pin lists
                    "get 46 00 c2 01 00 00 00 08 00", "get 49 00 00 00 00"));
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_TRUE(adapter.UartEnabled());
    EXPECT_EQ(adapter.Latch() & PinLatchBit::Q3Reset, PinLatchBit::Q3Reset);

    platform.ClearWire();
    clickConnect();

    EXPECT_THAT(wire(), ElementsAre("set 45 00", "set 46 80 25 00 00 02 01 07 01", "set 40 02",
                                    "get 42 00"));
    expectNotConnected();
    EXPECT_EQ(adapter.Uart(), uart(9600, 2, 1, 7, 1));
    EXPECT_FALSE(platform.IsOpen(0));
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(TerminalWindowTest, ConnectedWindowShowsItsState) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    addAdapter("SER-B");
    openWindow();
    list(Id::AdapterList)->setCurrentIndex(1);

    clickConnect();

    EXPECT_TRUE(platform.IsOpen(1));
    EXPECT_FALSE(platform.IsOpen(platform.IdOf(adapter)));
    EXPECT_EQ(button(Id::Connect)->text(), "Disconnect");
    EXPECT_TRUE(button(Id::Connect)->isChecked());
    EXPECT_TRUE(window->MenuAction(Menu::Connect)->isChecked());
    EXPECT_FALSE(list(Id::AdapterList)->isEnabled());
    EXPECT_TRUE(window->IsPinPollActive());
    EXPECT_EQ(
        text(Id::StatusLine),
        "CONNECTED  -  115200  -  No Parity  -  No Flow Control  -  8 Data Bits  -  1 Stop Bit");
}

// ---- Status line ----

struct StatusCase {
    AdapterFirmware::UartSettings uart;
    const char* expected;
};

class StatusLineTest : public TerminalWindowTest,
                       public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusLineTest, SpellsOutTheAdaptersConfiguration) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    openWindow();
    clickConnect();
    ASSERT_TRUE(window->Adapter().IsConnected());

    adapter.SetUart(GetParam().uart);
    window->UpdateConnectionStatus();

    EXPECT_EQ(text(Id::StatusLine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, StatusLineTest,
    ::testing::Values(
        StatusCase{uart(9600, 2, 1, 7, 1), "CONNECTED  -  9600  -  Odd Parity  -  RTS / CTS Flow "
                                           "Control  -  7 Data Bits  -  2 Stop Bits"},
        StatusCase{uart(300, 1, 0, 5, 1), "CONNECTED  -  300  -  Even Parity  -  No Flow Control  "
                                          "-  5 Data Bits  -  1.5 Stop Bits"},
        StatusCase{uart(1200, 3, 0, 6, 0),
                   "CONNECTED  -  1200  -  Mark Parity  -  No Flow Control  "
                   "-  6 Data Bits  -  1 Stop Bit"},
        StatusCase{uart(230400, 4, 0, 8, 1), "CONNECTED  -  230400  -  Space Parity  -  No Flow "
                                             "Control  -  8 Data Bits  -  2 Stop Bits"},
        StatusCase{uart(4000000000u, 5, 2, 9, 2),
                   "CONNECTED  -  4000000000  -  <Parity Err>  -  <Flow Control Err>  -  9 Data "
                   "Bits  -  <Stop Bit Err>"},
        StatusCase{uart(0, 255, 255, 0, 255), "CONNECTED  -  0  -  <Parity Err>  -  <Flow Control "
                                              "Err>  -  0 Data Bits  -  <Stop Bit Err>"}));

TEST_F(TerminalWindowTest, UnreadableConfigurationShowsTheSettingsError) {
    addAdapter("SER-A");
    openWindow();
    clickConnect();

    platform.FailFeatureReportId(AdapterFirmware::UartConfigReport);
    window->UpdateConnectionStatus();

    EXPECT_EQ(text(Id::StatusLine), "CONNECTED  -  <UART Settings Err> - ");
    EXPECT_EQ(text(Id::Gpio0Label), "GPIO0");
}

// ---- Pin action lists ----

TEST_F(TerminalWindowTest, PinListsFollowFlowControlAndRememberTheGpioIndexes) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    openWindow();
    window->Settings().Pins.Gpio0Mode = 2;
    window->Settings().Pins.Gpio1Mode = 1;
    clickConnect();

    const QStringList gpio0 = {"Set GPIO0 Logic Low", "Set GPIO0 Logic High", "Do Not Write GPIO0"};
    const QStringList gpio1 = {"Set GPIO1 Logic Low", "Set GPIO1 Logic High", "Do Not Write GPIO1"};
    EXPECT_EQ(entries(Id::Gpio0Action), gpio0);
    EXPECT_EQ(entries(Id::Gpio1Action), gpio1);

    list(Id::Gpio0Action)->setCurrentIndex(0);
    list(Id::Gpio1Action)->setCurrentIndex(1);
    window->UpdateConnectionStatus();
    EXPECT_EQ(list(Id::Gpio0Action)->currentIndex(), 0);
    EXPECT_EQ(list(Id::Gpio1Action)->currentIndex(), 1);

    adapter.SetUart(uart(115200, 0, 1, 8, 0));
    window->UpdateConnectionStatus();
    EXPECT_EQ(entries(Id::Gpio0Action),
              QStringList({"Set RTS Logic Low", "Set RTS Logic High", "Do Not Write RTS"}));
    EXPECT_EQ(entries(Id::Gpio1Action),
              QStringList({"Set CTS Logic Low", "Set CTS Logic High", "Do Not Write CTS"}));
    EXPECT_EQ(list(Id::Gpio0Action)->currentIndex(), 2);
    EXPECT_EQ(list(Id::Gpio1Action)->currentIndex(), 2);
    EXPECT_EQ(text(Id::Gpio0Label), "RTS");
    EXPECT_EQ(text(Id::Gpio1Label), "CTS");

    // Back to GPIO: the indexes the lists had just before.
    adapter.SetUart(uart(115200, 0, 0, 8, 0));
    list(Id::Gpio1Action)->setCurrentIndex(0);
    window->UpdateConnectionStatus();
    EXPECT_EQ(entries(Id::Gpio0Action), gpio0);
    EXPECT_EQ(list(Id::Gpio0Action)->currentIndex(), 2);
    EXPECT_EQ(list(Id::Gpio1Action)->currentIndex(), 0);
    EXPECT_EQ(text(Id::Gpio0Label), "GPIO0");
    EXPECT_EQ(text(Id::Gpio1Label), "GPIO1");

    // A disconnect keeps the last entries, at index 2 and disabled.
    clickConnect();
    expectNotConnected();
    EXPECT_EQ(entries(Id::Gpio0Action), gpio0);
    EXPECT_EQ(list(Id::Gpio0Action)->currentText(), "Do Not Write GPIO0");
}

struct PinModeCase {
    std::uint8_t gpio0Mode;
    std::uint8_t gpio1Mode;
    bool gpio0Enabled;
    bool gpio1Enabled;
};

class PinModeTest : public TerminalWindowTest, public ::testing::WithParamInterface<PinModeCase> {};

TEST_P(PinModeTest, OnlyGpioOutputsCanBeSet) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    openWindow();
    clickConnect();

    AdapterFirmware::PinSettings pins;
    pins.Gpio0Mode = GetParam().gpio0Mode;
    pins.Gpio1Mode = GetParam().gpio1Mode;
    adapter.SetPins(pins);
    window->UpdateConnectionStatus();

    EXPECT_EQ(list(Id::Gpio0Action)->isEnabled(), GetParam().gpio0Enabled);
    EXPECT_EQ(list(Id::Gpio1Action)->isEnabled(), GetParam().gpio1Enabled);
    EXPECT_TRUE(list(Id::Q3ResetAction)->isEnabled());

    // An unreadable pin configuration leaves the enabling as it was.
    adapter.SetPins({});
    platform.FailFeatureReportId(AdapterFirmware::PinConfigReport);
    window->UpdateConnectionStatus();
    EXPECT_EQ(list(Id::Gpio0Action)->isEnabled(), GetParam().gpio0Enabled);
    EXPECT_EQ(list(Id::Gpio1Action)->isEnabled(), GetParam().gpio1Enabled);
}

INSTANTIATE_TEST_SUITE_P(Modes, PinModeTest,
                         ::testing::Values(PinModeCase{0, 0, false, false},
                                           PinModeCase{1, 2, true, true},
                                           PinModeCase{2, 0, true, false},
                                           PinModeCase{3, 3, false, false},
                                           PinModeCase{4, 1, false, true}));

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

// An assistive tool's toggle runs the command, as a click does, and the mark follows the state.
TEST_F(TerminalWindowTest, AssistiveToggleRunsTheCommandOfConnectAndCapture) {
    addAdapter("SER-A");
    openWindow();
    const auto toggle = [](QWidget* widget) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_TRUE(accessible && accessible->actionInterface());
        const QString action = QAccessibleActionInterface::toggleAction();
        ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(action));
        accessible->actionInterface()->doAction(action);
    };
    const auto checkedState = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->state().checked != 0;
    };
    prompts.FileAnswers.push_back(dir.filePath("capture.txt"));
    button(Id::BrowseReceiveFile)->click();

    struct Step {
        int id;
        bool on;
        const char* caption;
    };
    const Step steps[] = {{Id::Connect, true, "Disconnect"},
                          {Id::Capture, true, "Stop Capture and Save File"},
                          {Id::Capture, false, "Capture Receive Data to File"},
                          {Id::Connect, false, "Connect"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.caption);
        toggle(button(step.id));
        EXPECT_EQ(button(step.id)->text(), step.caption);
        EXPECT_EQ(button(step.id)->isChecked(), step.on);
        EXPECT_EQ(checkedState(button(step.id)), step.on);
    }
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_FALSE(window->Adapter().IsConnected());
    EXPECT_EQ(QFile(dir.filePath("capture.txt")).exists(), true);
}

TEST_F(TerminalWindowTest, AssistiveToolsReadTheNamesOfTheControls) {
    openWindow();
    const std::pair<int, const char*> names[] = {{Id::TransferBox, "Transfer Data"},
                                                 {Id::ReceiveView, "Receive Data"},
                                                 {Id::Connect, "Connect"},
                                                 {Id::HexFormat, "Hex Format"}};
    for (const auto& [id, name] : names) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(window->Control(id));
        ASSERT_TRUE(accessible) << name;
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
    }
}

// ---- Connect guard, timer ----

TEST_F(TerminalWindowTest, EnsureConnectedAsksAndConnectsOnYes) {
    addAdapter("SER-A");
    openWindow();

    prompts.Answers = {PromptAnswer::No};
    EXPECT_FALSE(window->EnsureConnected());
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    EXPECT_EQ(prompts.Prompts[0].Text, "Not connected, would you like to connect now?");
    EXPECT_EQ(prompts.Prompts[0].Caption, "Connect");
    EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Question);
    EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::YesNo);
    EXPECT_FALSE(window->Adapter().IsConnected());

    prompts.Answers = {PromptAnswer::Yes};
    EXPECT_TRUE(window->EnsureConnected());
    EXPECT_TRUE(window->Adapter().IsConnected());

    EXPECT_TRUE(window->EnsureConnected());
    EXPECT_EQ(prompts.Prompts.size(), 2u); // no question while connected
}

TEST_F(TerminalWindowTest, EnsureConnectedIsFalseWhenTheConnectFails) {
    openWindow();
    EXPECT_FALSE(window->EnsureConnected());
    ASSERT_EQ(prompts.Prompts.size(), 2u);
    EXPECT_EQ(prompts.Prompts[1].Text, "No device selected");
    expectNotConnected();
}

// ---- Leaving ----

struct ExitCase {
    const char* name;
    std::function<void(CWendrakeTerminalDlg&)> leave;
};

// The resize rule gives "Clear Receive Data" a face of fixed pixels: its caption must still
// clear the edges there, at the first size and after resizing.
TEST_F(TerminalWindowTest, ClearReceiveDataCaptionClearsItsEdges) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* clear =
        qobject_cast<QAbstractButton*>(window->Control(TerminalControl::ClearReceiveData));
    ASSERT_NE(clear, nullptr);
    for (const QSize size : {window->size(), window->size() + QSize(200, 100)}) {
        window->resize(size);
        QTest::qWait(20);
        const int spare = clear->width() - clear->fontMetrics().horizontalAdvance(clear->text());
        EXPECT_GE(spare, 8) << size.width() << "x" << size.height();
    }
}

class ExitTest : public TerminalWindowTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitTest, EndsTheWindowAndRestoresAndClosesTheAdapter) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    adapter.SetUart(uart(38400, 0, 1, 8, 0));
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    clickConnect();
    ASSERT_TRUE(window->Adapter().IsConnected());
    platform.ClearWire();

    GetParam().leave(*window);

    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_THAT(wire(), ElementsAre("set 45 00", "set 46 00 96 00 00 00 01 08 00", "set 40 02",
                                    "get 42 00"));
    EXPECT_FALSE(platform.IsOpen(0));
    EXPECT_FALSE(adapter.UartEnabled());
    EXPECT_EQ(adapter.Uart(), uart(38400, 0, 1, 8, 0));
    EXPECT_FALSE(window->IsPinPollActive());
    EXPECT_TRUE(prompts.Prompts.empty());

    // No more notices, and destroying the window sends nothing more.
    platform.ClearWire();
    const QStringList listed = entries(Id::AdapterList);
    addAdapter("SER-B");
    EXPECT_EQ(entries(Id::AdapterList), listed);
    window.reset();
    EXPECT_TRUE(wire().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ExitTest,
    ::testing::Values(
        ExitCase{"Escape",
                 [](CWendrakeTerminalDlg& w) {
                     QTest::keyClick(w.Control(Id::TransferBox), Qt::Key_Escape);
                 }},
        ExitCase{"CloseBox", [](CWendrakeTerminalDlg& w) { w.close(); }},
        ExitCase{"ExitMenu", [](CWendrakeTerminalDlg& w) { w.MenuAction(Menu::Exit)->trigger(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalWindowTest, DestroyingAConnectedWindowRestoresAndClosesTheAdapter) {
    AdapterFirmware& adapter = addAdapter("SER-A");
    adapter.SetUart(uart(4800, 1, 0, 7, 0));
    openWindow();
    clickConnect();
    platform.ClearWire();

    window.reset();

    EXPECT_THAT(wire(), ElementsAre("set 45 00", "set 46 c0 12 00 00 01 00 07 00", "set 40 02",
                                    "get 42 00"));
    EXPECT_FALSE(platform.IsOpen(0));
}

// ---- Resize rule ----

class ResizeTest : public TerminalWindowTest, public ::testing::WithParamInterface<QSize> {};

TEST_P(ResizeTest, ViewStatusAndClearFollowTheOuterEdge) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QWidget* view = window->Control(Id::ReceiveView);
    QWidget* status = window->Control(Id::StatusLine);
    QWidget* clear = window->Control(Id::ClearReceiveData);
    const QPoint viewTopLeft = view->geometry().topLeft();
    const int statusLeft = status->geometry().left();
    const QRect transferBox = window->Control(Id::TransferBox)->geometry();

    window->resize(GetParam());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == GetParam(); }, 5000));

    // Outer rectangle with exclusive right and bottom edges, in screen pixels.
    const QRect outer = window->frameGeometry();
    const int right = outer.x() + outer.width();
    const int bottom = outer.y() + outer.height();
    const auto screenRect = [&](QWidget* w) {
        const QPoint topLeft = window->mapToGlobal(w->geometry().topLeft());
        return QRect(topLeft, w->size());
    };
    const auto exclusiveRight = [](const QRect& r) { return r.x() + r.width(); };
    const auto exclusiveBottom = [](const QRect& r) { return r.y() + r.height(); };

    EXPECT_EQ(view->geometry().topLeft(), viewTopLeft);
    EXPECT_EQ(exclusiveRight(screenRect(view)), right - 14);
    EXPECT_EQ(exclusiveBottom(screenRect(view)), bottom - 42);

    EXPECT_EQ(status->geometry().left(), statusLeft);
    EXPECT_EQ(screenRect(status).top(), bottom - 32);
    EXPECT_EQ(exclusiveRight(screenRect(status)), right - 134);
    EXPECT_EQ(exclusiveBottom(screenRect(status)), bottom - 16);

    EXPECT_EQ(screenRect(clear).left(), right - 119);
    EXPECT_EQ(screenRect(clear).top(), bottom - 35);
    EXPECT_EQ(exclusiveRight(screenRect(clear)), right - 14);
    EXPECT_EQ(exclusiveBottom(screenRect(clear)), bottom - 15);

    EXPECT_EQ(window->Control(Id::TransferBox)->geometry(), transferBox); // nothing else moves
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(QSize(1100, 950), QSize(820, 760), QSize(500, 400)));

// ---- Help ----

TEST_F(TerminalWindowTest, HelpOpensTheHelpFileOfTheWorkingDirectory) {
    openWindow(); // loading the settings made their directory the working directory
    {
        QFile compiled(QDir(dir.path()).filePath("Wendrake Terminal Help.chm"));
        ASSERT_TRUE(compiled.open(QIODevice::WriteOnly));
    }
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");

    window->MenuAction(Menu::Help)->trigger();

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.Urls.size(), 1u);
    EXPECT_EQ(QDir(QFileInfo(recorder.Urls[0].toLocalFile()).absolutePath()).canonicalPath(),
              QDir(dir.path()).canonicalPath());
    EXPECT_EQ(QFileInfo(recorder.Urls[0].toLocalFile()).fileName(), "Wendrake Terminal Help.chm");
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(TerminalWindowTest, HelpWithoutACompiledFileOpensTheManualBesideTheProgram) {
    openWindow();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    window->MenuAction(Menu::Help)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.Urls.size(), 1u);
    EXPECT_EQ(recorder.Urls[0].toLocalFile(),
              QDir::cleanPath(QCoreApplication::applicationDirPath() +
                              "/../share/wendrake-terminal/help/index.html"));
    EXPECT_TRUE(QFileInfo(recorder.Urls[0].toLocalFile()).isFile());
    EXPECT_TRUE(prompts.Prompts.empty());
}

} // namespace

#include "CWendrakeTerminalDlgTest.moc"
