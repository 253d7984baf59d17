#include "dialogs/CWendrakeSettingsDlg.h"

#include "config/TerminalSettings.h"
#include "device/CWendrake.h"
#include "dialogs/DialogBuilder.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/SettingsDialogTemplate.h"
#include "tests/support/RecordingPrompts.h"
#include "tests/support/WireLines.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

QStringList entriesOf(const QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    return entries;
}

// What the user does: pick an entry from the drop-down.
void choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

class SettingsDlgTest : public ::testing::Test {
protected:
    SettingsDlgTest() : firmware(platform.AddAdapter("SD0001")), adapter(platform) {}

    ~SettingsDlgTest() override {
        if (adapter.IsConnected())
            adapter.Disconnect();
    }

    void connectAdapter() {
        ASSERT_EQ(adapter.Connect(0), WendrakeOk);
        platform.ClearWire();
    }

    std::unique_ptr<CWendrakeSettingsDlg> makeDialog() {
        return std::make_unique<CWendrakeSettingsDlg>(adapter, &settings.Uart, &settings.Pins,
                                                      &settings.ToggleResetOnConnect, prompts);
    }

    static QComboBox* combo(QWidget* dialog, int id) {
        return qobject_cast<QComboBox*>(DialogBuilder::control(dialog, id));
    }
    static QString versionText(QWidget* dialog) {
        return qobject_cast<QLineEdit*>(DialogBuilder::control(dialog, SettingsControl::Version))
            ->text();
    }
    static QCheckBox* resetBox(QWidget* dialog) {
        return qobject_cast<QCheckBox*>(
            DialogBuilder::control(dialog, SettingsControl::ToggleReset));
    }

    // Lines of the wire record for one feature report id.
    Strings wireFor(const std::string& prefix) const { return ::wireFor(platform, prefix); }

    EmulatedHidPlatform platform;
    AdapterFirmware& firmware;
    CWendrake adapter;
    TerminalSettings settings;
    RecordingPrompts prompts;
};

TEST_F(SettingsDlgTest, NotConnectedShowsTheRecordAndOkEditsOnlyTheRecord) {
    settings.Uart = {57600, 2, 0, 7, 1};
    settings.Pins = {1, 2, 1, 1};
    settings.ToggleResetOnConnect = 0;
    auto dlg = makeDialog();
    dlg->OnInitDialog();

    EXPECT_EQ(versionText(dlg.get()), "Not Connected");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::BaudRate)->currentText(), "57600");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::Parity)->currentText(), "Odd");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::DataBits)->currentText(), "7");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::FlowControl)->currentText(), "None");
    EXPECT_EQ(entriesOf(combo(dlg.get(), SettingsControl::StopBits)), QStringList({"1", "2"}));
    EXPECT_EQ(combo(dlg.get(), SettingsControl::StopBits)->currentIndex(), 1);
    EXPECT_EQ(combo(dlg.get(), SettingsControl::Gpio0Mode)->currentText(),
              "GPIO Output - Open Drain");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::Gpio1Mode)->currentText(),
              "GPIO Output - Push-Pull");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::TxMode)->currentText(), "Open Drain");
    EXPECT_FALSE(resetBox(dlg.get())->isChecked());

    combo(dlg.get(), SettingsControl::BaudRate)->setEditText("9600");
    choose(combo(dlg.get(), SettingsControl::Parity), 4);
    choose(combo(dlg.get(), SettingsControl::DataBits), 3);
    choose(combo(dlg.get(), SettingsControl::StopBits), 0);
    choose(combo(dlg.get(), SettingsControl::Gpio0Mode), 0);
    choose(combo(dlg.get(), SettingsControl::TxMode), 0);
    resetBox(dlg.get())->setChecked(true);
    dlg->OnOK();

    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(settings.Uart, (UartConfig{9600, 4, 0, 8, 0}));
    EXPECT_EQ(settings.Pins, (PinConfig{0, 2, 0, 1})); // the fourth byte is carried unchanged
    EXPECT_EQ(settings.ToggleResetOnConnect, 1);
    EXPECT_TRUE(platform.Wire().empty());
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(SettingsDlgTest, ConnectedReadsVersionAndConfigurationIntoTheRecord) {
    firmware.SetVersion(1, 3);
    firmware.SetUart({9600, 1, 1, 6, 1});
    firmware.SetPins({4, 3, 1, 1});
    connectAdapter();
    auto dlg = makeDialog();
    dlg->OnInitDialog();

    EXPECT_EQ(versionText(dlg.get()), "1.3");
    EXPECT_EQ(wireFor("get"), (Strings{"get 44 03", "get 43 01", "get 46 80 25 00 00 01 01 06 01",
                                       "get 49 04 03 01 01"}));
    EXPECT_EQ(settings.Uart, (UartConfig{9600, 1, 1, 6, 1}));
    EXPECT_EQ(settings.Pins, (PinConfig{4, 3, 1, 1}));
    EXPECT_EQ(combo(dlg.get(), SettingsControl::BaudRate)->currentText(), "9600");
    EXPECT_EQ(combo(dlg.get(), SettingsControl::FlowControl)->currentText(), "RTS/CTS");
    EXPECT_EQ(entriesOf(combo(dlg.get(), SettingsControl::Gpio0Mode)),
              QStringList({"RTS - Push-Pull", "RTS - Open Drain"}));
    EXPECT_EQ(combo(dlg.get(), SettingsControl::Gpio0Mode)->currentIndex(), 1);
    EXPECT_EQ(entriesOf(combo(dlg.get(), SettingsControl::Gpio1Mode)),
              QStringList({"CTS Input Pin"}));
    EXPECT_EQ(combo(dlg.get(), SettingsControl::Gpio1Mode)->currentIndex(), 0);

    // OK without touching anything writes the same modes back: 4 stays 4.
    platform.ClearWire();
    dlg->OnOK();
    EXPECT_EQ(platform.WireSummary(),
              (Strings{"set 46 80 25 00 00 01 01 06 01", "set 49 04 03 01 01"}));
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(SettingsDlgTest, VersionFailureShowsErrAndTheDialogCarriesOn) {
    struct Case {
        std::uint8_t failingId;
        Strings versionGets;
    };
    const std::vector<Case> cases{
        {0x44, {"get 44 00 (failed)"}}, // major is not asked after a failed minor
        {0x43, {"get 44 03", "get 43 00 (failed)"}},
    };
    connectAdapter();
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.failingId));
        platform.ClearWire();
        platform.FailFeatureReportId(c.failingId);
        auto dlg = makeDialog();
        dlg->OnInitDialog();
        platform.FailFeatureReportId(c.failingId, false);

        EXPECT_EQ(versionText(dlg.get()), "Err");
        Strings gets = wireFor("get 4");
        gets.resize(c.versionGets.size());
        EXPECT_EQ(gets, c.versionGets);
        EXPECT_EQ(wireFor("get 46").size(), 1u);
        EXPECT_EQ(wireFor("get 49").size(), 1u);
        EXPECT_TRUE(prompts.Prompts.empty());
        EXPECT_EQ(combo(dlg.get(), SettingsControl::BaudRate)->currentText(), "115200");
    }
}

TEST_F(SettingsDlgTest, FailedConfigurationReadEndsTheDialogBeforeItShows) {
    struct Case {
        std::uint8_t failingId;
        UartConfig expectedUart;
        PinConfig expectedPins;
    };
    const UartConfig adapterUart{19200, 2, 0, 7, 0};
    const PinConfig adapterPins{2, 1, 1, 0};
    const std::vector<Case> cases{
        // The pin read is still made after a failed UART read; a successful read stays.
        {0x46, UartConfig{}, adapterPins},
        {0x49, adapterUart, PinConfig{}},
    };
    firmware.SetUart({19200, 2, 0, 7, 0});
    firmware.SetPins({2, 1, 1, 0});
    connectAdapter();
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.failingId));
        settings = TerminalSettings{};
        prompts.Prompts.clear();
        platform.ClearWire();
        platform.FailFeatureReportId(c.failingId);
        auto dlg = makeDialog();

        bool shown = false;
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                shown = true;
                modal->close();
            }
        });
        const int result = dlg->exec();
        platform.FailFeatureReportId(c.failingId, false);

        EXPECT_FALSE(shown);
        EXPECT_EQ(result, QDialog::Rejected);
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, "Error getting data from device");
        EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Error);
        EXPECT_EQ(wireFor("get 46").size(), 1u);
        EXPECT_EQ(wireFor("get 49").size(), 1u);
        EXPECT_EQ(settings.Uart, c.expectedUart);
        EXPECT_EQ(settings.Pins, c.expectedPins);
        EXPECT_TRUE(wireFor("set").empty());
        QApplication::processEvents();
    }
}

TEST_F(SettingsDlgTest, FiveDataBitsShowOneAndAHalfStopBitsThatTurnIntoTwo) {
    settings.Uart = {115200, 0, 0, 5, 1};
    auto dlg = makeDialog();
    dlg->OnInitDialog();
    QComboBox* stopBits = combo(dlg.get(), SettingsControl::StopBits);
    EXPECT_EQ(entriesOf(stopBits), QStringList({"1", "1.5"}));
    EXPECT_EQ(stopBits->currentText(), "1.5");

    choose(combo(dlg.get(), SettingsControl::DataBits), 3);
    EXPECT_EQ(entriesOf(stopBits), QStringList({"1", "2"}));
    EXPECT_EQ(stopBits->currentText(), "2");

    choose(combo(dlg.get(), SettingsControl::DataBits), 0);
    EXPECT_EQ(stopBits->currentText(), "1.5");

    choose(stopBits, 0);
    choose(combo(dlg.get(), SettingsControl::DataBits), 2);
    EXPECT_EQ(entriesOf(stopBits), QStringList({"1", "2"}));
    EXPECT_EQ(stopBits->currentText(), "1");

    dlg->OnOK();
    EXPECT_EQ(settings.Uart.DataBits, 7);
    EXPECT_EQ(settings.Uart.StopBits, 0);
}

TEST_F(SettingsDlgTest, FlowControlSwitchRefillsThePinListsAndOkWritesModes) {
    struct Case {
        const char* name;
        UartConfig uart;
        PinConfig pins;
        int chooseFlowControl; // -1: leave the list alone
        std::string expectedPinWrite;
        PinConfig expectedPins;
    };
    const std::vector<Case> cases{
        {"none then RTS/CTS selects the first entries",
         {115200, 0, 0, 8, 0},
         {2, 1, 0, 0},
         1,
         "set 49 03 03 00 00",
         {3, 3, 0, 0}},
        {"RTS/CTS then none selects GPIO inputs",
         {115200, 0, 1, 8, 0},
         {4, 3, 1, 0},
         0,
         "set 49 00 00 01 00",
         {0, 0, 1, 0}},
        // A file can hold a GPIO mode under RTS/CTS: no entry is selected, and the missing
        // selection counts as -1, so -1 + 3 is written.
        {"GPIO mode under RTS/CTS has no selection",
         {115200, 0, 1, 8, 0},
         {1, 3, 0, 0},
         -1,
         "set 49 02 03 00 00",
         {2, 3, 0, 0}},
    };
    connectAdapter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        firmware.SetUart(
            {c.uart.BaudRate, c.uart.Parity, c.uart.FlowControl, c.uart.DataBits, c.uart.StopBits});
        firmware.SetPins({c.pins.Gpio0Mode, c.pins.Gpio1Mode, c.pins.TxMode, c.pins.FourthPinMode});
        auto dlg = makeDialog();
        dlg->OnInitDialog();
        if (c.chooseFlowControl >= 0)
            choose(combo(dlg.get(), SettingsControl::FlowControl), c.chooseFlowControl);
        else
            EXPECT_EQ(combo(dlg.get(), SettingsControl::Gpio0Mode)->currentIndex(), -1);

        const bool rts = (c.chooseFlowControl < 0 ? c.uart.FlowControl : c.chooseFlowControl) != 0;
        EXPECT_EQ(entriesOf(combo(dlg.get(), SettingsControl::Gpio1Mode)),
                  rts ? QStringList({"CTS Input Pin"})
                      : QStringList({"GPIO Input Pin", "GPIO Output - Open Drain",
                                     "GPIO Output - Push-Pull"}));
        platform.ClearWire();
        dlg->OnOK();
        EXPECT_EQ(wireFor("set 49"), Strings{c.expectedPinWrite});
        EXPECT_EQ(settings.Pins, c.expectedPins);
        EXPECT_EQ(firmware.Pins(), (AdapterFirmware::PinSettings{
                                       c.expectedPins.Gpio0Mode, c.expectedPins.Gpio1Mode,
                                       c.expectedPins.TxMode, c.expectedPins.FourthPinMode}));
    }
}

TEST_F(SettingsDlgTest, BaudTextShownAndReadBack) {
    struct Case {
        std::uint32_t recordBaud;
        QString shown;
        QString typed; // empty: leave the box as shown
        std::uint32_t written;
        std::string wire;
    };
    const std::vector<Case> cases{
        {1152, "115200", {}, 115200, "set 46 00 c2 01 00 00 00 08 00"},
        {12345, "12345", {}, 12345, "set 46 39 30 00 00 00 00 08 00"},
        {9600, "9600", "fast", 0, "set 46 00 00 00 00 00 00 08 00"},
        {9600, "9600", "  42 baud", 42, "set 46 2a 00 00 00 00 00 08 00"},
        {9600, "9600", "+300", 300, "set 46 2c 01 00 00 00 00 08 00"},
        {9600, "9600", "-1", 0xFFFFFFFFu, "set 46 ff ff ff ff 00 00 08 00"},
        {9600, "9600", "99999999999", 0xFFFFFFFFu, "set 46 ff ff ff ff 00 00 08 00"},
        // Every stored 32-bit rate comes back from an untouched box as it was.
        {0x7FFFFFFFu, "2147483647", {}, 0x7FFFFFFFu, "set 46 ff ff ff 7f 00 00 08 00"},
        {0x80000000u, "2147483648", {}, 0x80000000u, "set 46 00 00 00 80 00 00 08 00"},
        {0xFFFFFFFFu, "4294967295", {}, 0xFFFFFFFFu, "set 46 ff ff ff ff 00 00 08 00"},
        {9600, "9600", "3000000000", 3000000000u, "set 46 00 5e d0 b2 00 00 08 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.isEmpty() ? c.shown.toStdString() : c.typed.toStdString());
        // The adapter answers what the record should hold, as the dialog reads it first.
        firmware.SetUart({c.recordBaud, 0, 0, 8, 0});
        if (!adapter.IsConnected())
            connectAdapter();
        auto dlg = makeDialog();
        dlg->OnInitDialog();
        QComboBox* baud = combo(dlg.get(), SettingsControl::BaudRate);
        EXPECT_EQ(baud->currentText(), c.shown);
        if (!c.typed.isEmpty())
            baud->setEditText(c.typed);
        platform.ClearWire();
        dlg->OnOK();
        EXPECT_EQ(settings.Uart.BaudRate, c.written);
        EXPECT_EQ(wireFor("set 46"), Strings{c.wire});
    }
}

TEST_F(SettingsDlgTest, BaudRateFromTextReadsASignedDecimal) {
    const std::vector<std::pair<QString, std::uint32_t>> cases{
        {"115200", 115200},
        {"", 0},
        {"abc", 0},
        {"\t 7x", 7},
        {"-", 0},
        {"+-5", 0},
        {"2147483647", 2147483647u},
        {"2147483648", 0x80000000u},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu},
        {"-2147483648", 0x80000000u},
        {"-99999999999", 0x80000000u},
        {"12 34", 12},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(CWendrakeSettingsDlg::BaudRateFromText(text), expected);
    }
}

TEST_F(SettingsDlgTest, WriteFailureIsReportedAfterBothWritesAndStillEndsWithOk) {
    for (std::uint8_t failingId : {std::uint8_t{0x46}, std::uint8_t{0x49}}) {
        SCOPED_TRACE(int(failingId));
        if (!adapter.IsConnected())
            connectAdapter();
        prompts.Prompts.clear();
        auto dlg = makeDialog();
        dlg->OnInitDialog();
        platform.ClearWire();
        platform.FailFeatureReportId(failingId);
        dlg->OnOK();
        platform.FailFeatureReportId(failingId, false);

        const Strings sets = wireFor("set");
        ASSERT_EQ(sets.size(), 2u);
        EXPECT_EQ(sets[0].substr(0, 6), "set 46");
        EXPECT_EQ(sets[1].substr(0, 6), "set 49");
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, "Error saving settings to the Wendrake");
        EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Error);
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
    }
}

TEST_F(SettingsDlgTest, CancelWhileConnectedKeepsTheAdapterValuesInTheRecord) {
    firmware.SetUart({4800, 3, 0, 6, 0});
    firmware.SetPins({2, 2, 0, 1});
    connectAdapter();
    auto dlg = makeDialog();
    QTimer::singleShot(0, [] {
        if (auto* cancel = qobject_cast<QPushButton*>(
                DialogBuilder::control(QApplication::activeModalWidget(), IdCancel)))
            cancel->click();
    });
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_EQ(settings.Uart, (UartConfig{4800, 3, 0, 6, 0}));
    EXPECT_EQ(settings.Pins, (PinConfig{2, 2, 0, 1}));
    EXPECT_TRUE(wireFor("set").empty());
}

TEST_F(SettingsDlgTest, ModalRunEndsWithOkByEnterAndCancelByEscape) {
    struct Case {
        const char* name;
        Qt::Key key;
        bool inBaudBox; // the key goes to the baud box's editor instead of the dialog
        int result;
        std::int32_t reset;
        std::uint32_t baud;
    };
    const std::vector<Case> cases{
        {"Enter", Qt::Key_Return, false, QDialog::Accepted, 0, 4800},
        {"Enter while typing the baud rate", Qt::Key_Return, true, QDialog::Accepted, 0, 4800},
        {"Escape", Qt::Key_Escape, false, QDialog::Rejected, 1, 115200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = TerminalSettings{};
        auto dlg = makeDialog();
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            EXPECT_EQ(modal->windowTitle(), "Wendrake Settings");
            QComboBox* baud = combo(modal, SettingsControl::BaudRate);
            baud->setEditText("4800");
            resetBox(modal)->setChecked(false);
            QTest::keyClick(c.inBaudBox ? static_cast<QWidget*>(baud->lineEdit()) : modal, c.key);
        });
        EXPECT_EQ(dlg->exec(), c.result);
        EXPECT_EQ(settings.ToggleResetOnConnect, c.reset);
        EXPECT_EQ(settings.Uart.BaudRate, c.baud);
    }
}

} // namespace
