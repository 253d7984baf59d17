#include "config/SettingsFile.h"
#include "tests/support/AdapterSettings.h"
#include "tests/support/TerminalWindowTest.h"

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

// Records the URLs handed to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> Urls;

public slots:
    void open(const QUrl& url) { Urls.push_back(url); }
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
                                              "Err>  -  0 Data Bits  -  <Stop Bit Err>"}),
    [](const ::testing::TestParamInfo<StatusCase>& info) {
        const UartConfig& u = info.param.uart;
        return "Baud" + std::to_string(u.BaudRate) + "Parity" + std::to_string(u.Parity) + "Flow" +
               std::to_string(u.FlowControl) + "Data" + std::to_string(u.DataBits) + "Stop" +
               std::to_string(u.StopBits);
    });

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
                                           PinModeCase{4, 1, false, true}),
                         [](const ::testing::TestParamInfo<PinModeCase>& info) {
                             return "Gpio0Mode" + std::to_string(info.param.gpio0Mode) +
                                    "Gpio1Mode" + std::to_string(info.param.gpio1Mode);
                         });

// ---- Assistive tools ----

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
