#pragma once

#include "connection/AccessExplanation.h"
#include "connection/PlatformNoticeSource.h"
#include "emulator/EmulatedHidPlatform.h"
#include "receiveview/ReceiveView.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "terminal/TransferBox.h"
#include "tests/support/RecordingPrompts.h"
#include "tests/support/TestBytes.h"
#include "tests/support/WireLines.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The terminal window over an emulated adapter platform, as the window-level tests drive it:
// its controls by id, its menu, connecting, the wire. Public, so that the lambdas of a test's
// table can reach it. The window goes before the platform and the prompts it uses.
template <class Platform = EmulatedHidPlatform, class Prompts = RecordingPrompts>
class WindowFixture : public ::testing::Test {
public:
    void TearDown() override { window.reset(); }

    std::unique_ptr<CWendrakeTerminalDlg> makeWindow(const QString& settingsFolder) {
        return std::make_unique<CWendrakeTerminalDlg>(wendrake, notices, access, prompts,
                                                      settingsFolder);
    }
    // One window at a time: a window open before is closed first.
    void openWindow() {
        window.reset();
        window = makeWindow(dir.path());
    }
    void showWindow() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // Adapters added here have their UART output cleared by connect().
    AdapterFirmware& addAdapter(const std::string& serial) {
        AdapterFirmware& adapter = platform.AddAdapter(serial);
        adapters.push_back(&adapter);
        return adapter;
    }
    // Connects with the button; the wire and the UART output then hold only what follows.
    void connect() {
        button(TerminalControl::Connect)->click();
        ASSERT_TRUE(window->Adapter().IsConnected());
        platform.ClearWire();
        for (AdapterFirmware* adapter : adapters)
            adapter->ClearUartOutput();
    }

    QAbstractButton* button(int id) const {
        return qobject_cast<QAbstractButton*>(window->Control(id));
    }
    QComboBox* list(int id) const { return qobject_cast<QComboBox*>(window->Control(id)); }
    QString text(int id) const {
        if (auto* label = qobject_cast<QLabel*>(window->Control(id)))
            return label->text();
        return QStringLiteral("<not a label>");
    }
    ReceiveView* view() const {
        return qobject_cast<ReceiveView*>(window->Control(TerminalControl::ReceiveView));
    }
    TransferBox* box() const {
        return qobject_cast<TransferBox*>(window->Control(TerminalControl::TransferBox));
    }
    void choose(int menuId) const { window->MenuAction(menuId)->trigger(); }
    bool marked(int menuId) const { return window->MenuAction(menuId)->isChecked(); }
    std::vector<std::string> wireFor(const std::string& prefix) const {
        return ::wireFor(platform, prefix);
    }

    QTemporaryDir dir;
    Platform platform;
    Prompts prompts;
    std::vector<AdapterFirmware*> adapters;
    // What the window gets of the platform.
    CWendrake wendrake{platform};
    PlatformNoticeSource notices{platform};
    AccessExplanation access{platform};
    std::unique_ptr<CWendrakeTerminalDlg> window;
};
