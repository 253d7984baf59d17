#include "dialogs/CPinTestDlg.h"

#include "device/CWendrake.h"
#include "dialogs/DialogBuilder.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/PinTestDialogTemplate.h"
#include "tests/support/RecordingPrompts.h"
#include "tests/support/WireLines.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

constexpr int WaitBoundMs = 5000;

class PinTestDlgTest : public ::testing::Test {
protected:
    PinTestDlgTest() : firmware(platform.AddAdapter("PT0001")), adapter(platform) {
        EXPECT_EQ(adapter.Connect(0), WendrakeOk);
        platform.ClearWire();
    }
    ~PinTestDlgTest() override {
        if (adapter.IsConnected())
            adapter.Disconnect();
    }

    static QComboBox* list(QWidget* dialog, int id) {
        return qobject_cast<QComboBox*>(DialogBuilder::control(dialog, id));
    }
    static QString label(QWidget* dialog, int id) {
        return qobject_cast<QLabel*>(DialogBuilder::control(dialog, id))->text();
    }
    static QPushButton* button(QWidget* dialog, int id) {
        return qobject_cast<QPushButton*>(DialogBuilder::control(dialog, id));
    }

    Strings wireFor(const std::string& prefix) const { return ::wireFor(platform, prefix); }

    // Runs the dialog modally; act gets the shown dialog once its event loop runs.
    int runModal(CPinTestDlg& dlg, std::function<void(QWidget*)> act) {
        QTimer::singleShot(0, [act] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            act(modal);
        });
        return dlg.exec();
    }

    EmulatedHidPlatform platform;
    AdapterFirmware& firmware;
    CWendrake adapter;
    RecordingPrompts prompts;
};

TEST_F(PinTestDlgTest, LevelsAreEmptyUntilTheFirstPollThenHighAndLow) {
    struct Case {
        std::uint8_t levels;
        const char* suspend;
        const char* vppctl;
    };
    const std::vector<Case> cases{
        {0x08, "High", "Low"},
        {0x10, "Low", "High"},
        {0x07, "Low", "Low"}, // the terminal's own three pins do not show here
        {0x18, "High", "High"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.levels));
        firmware.SetInputLevels(c.levels, 0x1F);
        CPinTestDlg dlg(adapter, prompts);
        dlg.OnInitDialog();
        EXPECT_EQ(label(&dlg, PinTestControl::SuspendLevel), "");
        EXPECT_EQ(label(&dlg, PinTestControl::VppctlLevel), "");
        EXPECT_EQ(list(&dlg, PinTestControl::SuspendAction)->currentText(), "Do Not Set Suspend");
        EXPECT_EQ(list(&dlg, PinTestControl::VppctlAction)->currentText(), "Do Not Set VPPCTL");

        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return label(&dlg, PinTestControl::SuspendLevel) == c.suspend; }, WaitBoundMs));
        EXPECT_EQ(label(&dlg, PinTestControl::VppctlLevel), c.vppctl);
        EXPECT_FALSE(wireFor("get 4a").empty());
        EXPECT_TRUE(dlg.IsPolling());
        dlg.reject();
        EXPECT_FALSE(dlg.IsPolling());
    }
}

TEST_F(PinTestDlgTest, SetPinStatesWritesValuesAndMaskForBitsThreeAndFour) {
    struct Case {
        int suspend;
        int vppctl;
        std::string wire;
    };
    const std::vector<Case> cases{
        {1, 2, "set 4b 08 08"}, {0, 0, "set 4b 00 18"}, {2, 2, "set 4b 00 00"},
        {1, 1, "set 4b 18 18"}, {2, 0, "set 4b 00 10"}, {-1, 1, "set 4b 10 18"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        CPinTestDlg dlg(adapter, prompts);
        dlg.OnInitDialog();
        list(&dlg, PinTestControl::SuspendAction)->setCurrentIndex(c.suspend);
        list(&dlg, PinTestControl::VppctlAction)->setCurrentIndex(c.vppctl);
        platform.ClearWire();
        button(&dlg, PinTestControl::SetPinStates)->click();
        EXPECT_EQ(wireFor("set"), Strings{c.wire});
        dlg.reject();
    }
    // The firmware applied the last write under its mask: Suspend untouched, VPPCTL high.
    EXPECT_EQ(firmware.Latch() & 0x18, 0x10);
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(PinTestDlgTest, FailedWriteShowsTheMessageAndKeepsTheDialogOpen) {
    platform.FailFeatureReportId(0x4B);
    CPinTestDlg dlg(adapter, prompts);
    const int result = runModal(dlg, [&](QWidget* modal) {
        list(modal, PinTestControl::SuspendAction)->setCurrentIndex(1);
        button(modal, PinTestControl::SetPinStates)->click();
        EXPECT_TRUE(modal->isVisible());
        EXPECT_EQ(list(modal, PinTestControl::SuspendAction)->currentIndex(), 1);
        button(modal, PinTestControl::Done)->click();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    EXPECT_EQ(prompts.Prompts[0].Text, "Pin states could not be set");
    EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
    EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Error);
}

TEST_F(PinTestDlgTest, DoneEscapeAndCloseBoxCancelEnterOnAListEndsWithOk) {
    struct Case {
        const char* name;
        std::function<void(QWidget*)> close;
        int result;
    };
    const std::vector<Case> cases{
        {"Done", [](QWidget* m) { button(m, PinTestControl::Done)->click(); }, QDialog::Rejected},
        {"Escape", [](QWidget* m) { QTest::keyClick(m, Qt::Key_Escape); }, QDialog::Rejected},
        {"close box", [](QWidget* m) { m->close(); }, QDialog::Rejected},
        {"Enter on Done",
         [](QWidget* m) {
             QWidget* done = button(m, PinTestControl::Done);
             done->setFocus();
             QTest::keyClick(done, Qt::Key_Return);
         },
         QDialog::Rejected},
        {"Enter on a list",
         [](QWidget* m) {
             QComboBox* suspend = list(m, PinTestControl::SuspendAction);
             suspend->setFocus();
             QTest::keyClick(suspend, Qt::Key_Return);
         },
         QDialog::Accepted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPinTestDlg dlg(adapter, prompts);
        EXPECT_EQ(runModal(dlg, c.close), c.result);
        EXPECT_FALSE(dlg.IsPolling());
    }
    EXPECT_TRUE(wireFor("set").empty());
}

TEST_F(PinTestDlgTest, UnplugClosesTheDialogWithOkAndNoMessage) {
    CPinTestDlg dlg(adapter, prompts);
    const int result = runModal(dlg, [&](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "Suspend and VPPCTL Pin Test");
        platform.Unplug(firmware);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(dlg.IsPolling());
    EXPECT_TRUE(prompts.Prompts.empty());
}

} // namespace
