#include "config/SettingsFile.h"
#include "dialogs/DialogBuilder.h"
#include "resources/PinTestDialogTemplate.h"
#include "resources/SettingsDialogTemplate.h"
#include "tests/support/WindowFixture.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;
using Strings = std::vector<std::string>;

constexpr int WaitBoundMs = 5000;

class PinsAndFifoTest : public WindowFixture<> {
public:
    PinsAndFifoTest() : firmware(addAdapter("PF0001")) { openWindow(); }

    bool waitForWire(const std::string& line) const {
        return QTest::qWaitFor(
            [&] {
                const Strings lines = platform.WireSummary();
                return std::find(lines.begin(), lines.end(), line) != lines.end();
            },
            WaitBoundMs);
    }

    // Runs act on the modal dialog that the next command opens.
    static void whenModal(std::function<void(QWidget*)> act) {
        QTimer::singleShot(0, [act] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                ADD_FAILURE() << "no modal dialog open";
                return;
            }
            act(modal);
        });
    }
    static void clickIn(QWidget* dialog, int id) {
        qobject_cast<QAbstractButton*>(DialogBuilder::control(dialog, id))->click();
    }

    QByteArray settingsFileBytes() const {
        QFile file(dir.filePath(SettingsFile::FileName));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

    void expectOnlyPrompt(const QString& text, const QString& caption, PromptIcon icon) const {
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, text);
        EXPECT_EQ(prompts.Prompts[0].Caption, caption);
        EXPECT_EQ(prompts.Prompts[0].Icon, icon);
        EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::Ok);
    }

    AdapterFirmware& firmware;
};

// ---- Pin poll ----

TEST_F(PinsAndFifoTest, PollShowsTheLevelsOfBitsZeroToTwo) {
    struct Case {
        std::uint8_t latch;
        const char* gpio0;
        const char* gpio1;
        const char* q3Reset;
    };
    const std::vector<Case> cases{
        {0x05, "High", "Low", "High"}, {0xFA, "Low", "High", "Low"}, // bits 3 and up do not matter
        {0x1D, "High", "Low", "High"}, {0x00, "Low", "Low", "Low"},  {0x07, "High", "High", "High"},
    };
    connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.latch));
        platform.ClearWire();
        firmware.SetInputLevels(c.latch, 0xFF);
        char answer[16];
        std::snprintf(answer, sizeof answer, "get 4a %02x", c.latch);
        ASSERT_TRUE(waitForWire(answer));
        EXPECT_EQ(text(Id::Gpio0State), c.gpio0);
        EXPECT_EQ(text(Id::Gpio1State), c.gpio1);
        EXPECT_EQ(text(Id::Q3ResetState), c.q3Reset);
    }
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(PinsAndFifoTest, UnplugDuringThePollDisconnectsWithoutAMessage) {
    connect();
    ASSERT_TRUE(waitForWire("get 4a 07"));
    platform.Unplug(firmware);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Adapter().IsConnected(); }, WaitBoundMs));
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_FALSE(window->IsPinPollActive());
    EXPECT_EQ(button(Id::Connect)->text(), "Connect");
    EXPECT_EQ(text(Id::StatusLine), "NOT CONNECTED");
    EXPECT_EQ(text(Id::Gpio0State), "");
}

TEST_F(PinsAndFifoTest, PollKeepsRunningWhileTheSettingsDialogIsOpen) {
    connect();
    bool polledMeanwhile = false;
    whenModal([&](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "Wendrake Settings");
        platform.ClearWire();
        polledMeanwhile = waitForWire("get 4a 07");
        clickIn(modal, IdCancel);
    });
    choose(Menu::Settings);
    EXPECT_TRUE(polledMeanwhile);
    EXPECT_TRUE(window->IsPinPollActive());
}

// ---- Set Selected Pin States ----

TEST_F(PinsAndFifoTest, PinListPositionsGiveValuesAndMask) {
    struct Case {
        int gpio0;
        int gpio1;
        int q3Reset;
        std::string wire;
    };
    const std::vector<Case> cases{
        {1, 0, 2, "set 4b 01 03"},  {2, 1, 2, "set 4b 02 02"},
        {2, 2, 2, "set 4b 00 00"}, // nothing to change, still sent
        {0, 0, 0, "set 4b 00 07"},  {1, 1, 1, "set 4b 07 07"},
        {-1, 2, 1, "set 4b 04 05"}, // no selection drives the pin low
    };
    connect();
    // Pins in input mode leave lists 1016 and 1017 disabled; they are read all the same.
    ASSERT_FALSE(list(Id::Gpio0Action)->isEnabled());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        list(Id::Gpio0Action)->setCurrentIndex(c.gpio0);
        list(Id::Gpio1Action)->setCurrentIndex(c.gpio1);
        list(Id::Q3ResetAction)->setCurrentIndex(c.q3Reset);
        platform.ClearWire();
        button(Id::SetPinStates)->click();
        EXPECT_EQ(wireFor("set"), Strings{c.wire});
    }
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(PinsAndFifoTest, FailedPinWriteShowsTheMessageAndKeepsTheSelections) {
    connect();
    list(Id::Q3ResetAction)->setCurrentIndex(0);
    platform.FailFeatureReportId(0x4B);
    button(Id::SetPinStates)->click();
    expectOnlyPrompt("Pin states could not be set", "Error", PromptIcon::Error);
    EXPECT_EQ(list(Id::Q3ResetAction)->currentIndex(), 0);
    EXPECT_TRUE(window->Adapter().IsConnected());
}

// ---- FIFO ----

TEST_F(PinsAndFifoTest, FifoStatusBoxShowsBothCounts) {
    connect();
    firmware.SetFifoCounts(258, 0);
    choose(Menu::ViewFifoStatus);
    expectOnlyPrompt("FIFO Status:\n\n 258 Bytes in TX Buffer\n 0 Bytes in RX Buffer",
                     "FIFO Status", PromptIcon::Information);
    EXPECT_EQ(wireFor("get 47"), Strings{"get 47 01 02 00 00"});
}

TEST_F(PinsAndFifoTest, FifoStatusReadFailureShowsTheMessage) {
    connect();
    platform.FailFeatureReportId(0x47);
    choose(Menu::ViewFifoStatus);
    expectOnlyPrompt("FIFO status could not be retrieved", "Error", PromptIcon::Error);
}

TEST_F(PinsAndFifoTest, PurgeEmptiesBothFifosThenShowsTheStatus) {
    connect();
    firmware.SetFifoCounts(40000, 12);
    choose(Menu::PurgeFifo);
    EXPECT_EQ(firmware.PurgeCodes(), std::vector<std::uint8_t>{2});
    const Strings fifoTraffic = [&] {
        Strings lines;
        for (const std::string& line : platform.WireSummary()) {
            if (line.rfind("set 48", 0) == 0 || line.rfind("get 47", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }();
    EXPECT_EQ(fifoTraffic, (Strings{"set 48 02", "get 47 00 00 00 00"}));
    expectOnlyPrompt("FIFO Status:\n\n 0 Bytes in TX Buffer\n 0 Bytes in RX Buffer", "FIFO Status",
                     PromptIcon::Information);
}

TEST_F(PinsAndFifoTest, PurgeFailureShowsTheMessageAndNoStatus) {
    connect();
    firmware.SetFifoCounts(5, 6);
    platform.FailFeatureReportId(0x48);
    choose(Menu::PurgeFifo);
    expectOnlyPrompt("FIFO could not be purged", "Error", PromptIcon::Error);
    EXPECT_TRUE(wireFor("get 47").empty());
    EXPECT_EQ(firmware.TxFifoCount(), 5);
}

TEST_F(PinsAndFifoTest, CommandsOfferToConnectFirst) {
    struct Case {
        const char* name;
        std::function<void(PinsAndFifoTest&)> run;
        std::string command; // the first adapter command after the connection
    };
    const std::vector<Case> cases{
        {"set pin states", [](PinsAndFifoTest& t) { t.button(Id::SetPinStates)->click(); },
         "set 4b"},
        {"view FIFO status", [](PinsAndFifoTest& t) { t.choose(Menu::ViewFifoStatus); }, "get 47"},
        {"purge FIFO", [](PinsAndFifoTest& t) { t.choose(Menu::PurgeFifo); }, "set 48"},
    };
    window->Settings().ToggleResetOnConnect = 0; // no latch writes of the connect itself
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
            if (window->Adapter().IsConnected())
                button(Id::Connect)->click();
            prompts.Prompts.clear();
            prompts.Answers = {answer};
            platform.ClearWire();
            c.run(*this);
            ASSERT_GE(prompts.Prompts.size(), 1u);
            EXPECT_EQ(prompts.Prompts[0].Text, "Not connected, would you like to connect now?");
            EXPECT_EQ(prompts.Prompts[0].Caption, "Connect");
            EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::YesNo);
            EXPECT_EQ(window->Adapter().IsConnected(), answer == PromptAnswer::Yes);
            EXPECT_EQ(wireFor(c.command).size(), answer == PromptAnswer::Yes ? 1u : 0u);
            if (answer == PromptAnswer::No) {
                EXPECT_TRUE(platform.Wire().empty());
            }
        }
    }
}

// ---- Settings ----

TEST_F(PinsAndFifoTest, SettingsOkWhileNotConnectedSavesTheRecordAndSendsNothing) {
    whenModal([](QWidget* modal) {
        EXPECT_EQ(qobject_cast<QLineEdit*>(DialogBuilder::control(modal, SettingsControl::Version))
                      ->text(),
                  "Not Connected");
        qobject_cast<QComboBox*>(DialogBuilder::control(modal, SettingsControl::BaudRate))
            ->setEditText("9600");
        clickIn(modal, IdOk);
    });
    choose(Menu::Settings);
    EXPECT_EQ(window->Settings().Uart.BaudRate, 9600u);
    EXPECT_EQ(settingsFileBytes(), SettingsFile::SerializeSettings(window->Settings()));
    EXPECT_TRUE(platform.Wire().empty());
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(PinsAndFifoTest, SettingsOkWhileConnectedWritesRefreshesReadsBackAndSaves) {
    firmware.SetVersion(1, 3);
    connect();
    QString version;
    whenModal([&](QWidget* modal) {
        version = qobject_cast<QLineEdit*>(DialogBuilder::control(modal, SettingsControl::Version))
                      ->text();
        auto* flow =
            qobject_cast<QComboBox*>(DialogBuilder::control(modal, SettingsControl::FlowControl));
        flow->setCurrentIndex(1);
        emit flow->activated(1);
        // Typed last: a list change puts the members back, which would make it "115200".
        qobject_cast<QComboBox*>(DialogBuilder::control(modal, SettingsControl::BaudRate))
            ->setEditText("1152");
        clickIn(modal, IdOk);
    });
    choose(Menu::Settings);

    EXPECT_EQ(version, "1.3");
    EXPECT_EQ(wireFor("set 46"), Strings{"set 46 80 04 00 00 00 01 08 00"});
    EXPECT_EQ(wireFor("set 49"), Strings{"set 49 03 03 00 00"});
    EXPECT_EQ(text(Id::StatusLine), "CONNECTED  -  1152  -  No Parity  -  RTS / CTS Flow "
                                    "Control  -  8 Data Bits  -  1 Stop Bit");
    EXPECT_EQ(text(Id::Gpio0Label), "RTS");
    EXPECT_EQ(window->Settings().Uart, (UartConfig{1152, 0, 1, 8, 0}));
    EXPECT_EQ(window->Settings().Pins, (PinConfig{3, 3, 0, 0}));
    EXPECT_EQ(settingsFileBytes(), SettingsFile::SerializeSettings(window->Settings()));
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(PinsAndFifoTest, SettingsWriteFailureReadsTheAdapterBackAndSavesThat) {
    connect();
    firmware.SetUart({38400, 0, 0, 8, 0});
    whenModal([&](QWidget* modal) {
        qobject_cast<QComboBox*>(DialogBuilder::control(modal, SettingsControl::BaudRate))
            ->setEditText("600");
        // The UART write is the next feature transfer on this thread.
        platform.FailNthFeatureTransfer(1);
        clickIn(modal, IdOk);
    });
    choose(Menu::Settings);

    expectOnlyPrompt("Error saving settings to the Wendrake", "Error", PromptIcon::Error);
    EXPECT_EQ(wireFor("set 49").size(), 1u);
    EXPECT_EQ(window->Settings().Uart.BaudRate, 38400u);
    EXPECT_EQ(settingsFileBytes(), SettingsFile::SerializeSettings(window->Settings()));
}

TEST_F(PinsAndFifoTest, SettingsCancelWhileConnectedKeepsAdapterValuesAndLeavesTheFile) {
    QFile file(dir.filePath(SettingsFile::FileName));
    TerminalSettings stored;
    stored.Uart.BaudRate = 57600;
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(SettingsFile::SerializeSettings(stored));
    file.close();
    window = makeWindow(dir.path());
    ASSERT_EQ(window->Settings().Uart.BaudRate, 57600u);

    connect(); // writes 57600 to the adapter
    firmware.SetUart({2400, 2, 0, 7, 1});
    firmware.SetPins({2, 1, 1, 0});
    whenModal([](QWidget* modal) { clickIn(modal, IdCancel); });
    choose(Menu::Settings);

    EXPECT_EQ(window->Settings().Uart, (UartConfig{2400, 2, 0, 7, 1}));
    EXPECT_EQ(window->Settings().Pins, (PinConfig{2, 1, 1, 0}));
    EXPECT_EQ(settingsFileBytes(), SettingsFile::SerializeSettings(stored));
    EXPECT_TRUE(wireFor("set").empty());
}

// ---- Pin test dialog from the window ----

TEST_F(PinsAndFifoTest, PinTestStopsThePollAndDoneResumesIt) {
    window->OnPinTest(); // not connected: nothing opens
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    connect();
    bool pollStopped = false;
    whenModal([&](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "Suspend and VPPCTL Pin Test");
        pollStopped = !window->IsPinPollActive();
        clickIn(modal, PinTestControl::Done);
    });
    window->OnPinTest();
    EXPECT_TRUE(pollStopped);
    EXPECT_TRUE(window->IsPinPollActive());
    EXPECT_TRUE(window->Adapter().IsConnected());
}

TEST_F(PinsAndFifoTest, PinTestEndingWithOkOrAFailedPollDisconnects) {
    struct Case {
        const char* name;
        std::function<void(PinsAndFifoTest&, QWidget*)> end;
    };
    const std::vector<Case> cases{
        {"Enter on a list",
         [](PinsAndFifoTest&, QWidget* modal) {
             QWidget* suspend = DialogBuilder::control(modal, PinTestControl::SuspendAction);
             suspend->setFocus();
             QTest::keyClick(suspend, Qt::Key_Return);
         }},
        {"unplug", [](PinsAndFifoTest& t, QWidget*) { t.platform.Unplug(t.firmware); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!platform.IsPlugged(platform.IdOf(firmware))) {
            platform.Plug(firmware);
        }
        connect();
        whenModal([&](QWidget* modal) { c.end(*this, modal); });
        window->OnPinTest();
        EXPECT_FALSE(window->Adapter().IsConnected());
        EXPECT_FALSE(window->IsPinPollActive());
        EXPECT_EQ(button(Id::Connect)->text(), "Connect");
        EXPECT_TRUE(prompts.Prompts.empty());
    }
}

TEST_F(PinsAndFifoTest, OnlyOnePinTestAtATime) {
    connect();
    QWidget* outer = nullptr;
    QWidget* closed = nullptr;
    whenModal([&](QWidget* modal) {
        outer = modal;
        // Were a second dialog to open, this would close it instead of the first one.
        QTimer::singleShot(0, [&] {
            closed = QApplication::activeModalWidget();
            clickIn(closed, PinTestControl::Done);
        });
        window->OnPinTest();
    });
    window->OnPinTest();
    EXPECT_NE(outer, nullptr);
    EXPECT_EQ(closed, outer);
    EXPECT_TRUE(window->IsPinPollActive());
}

} // namespace
