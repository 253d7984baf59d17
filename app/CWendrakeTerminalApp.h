#pragma once

#include "config/SettingsFolder.h"
#include "connection/AccessExplanation.h"
#include "connection/PlatformNoticeSource.h"
#include "device/CWendrake.h"
#include "device/platform/HidPlatform.h"
#include "dialogs/UserPrompts.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CWendrakeTerminalDlg;
class QEvent;

// Starts the program: builds the terminal window on the given HID platform, runs it modally for
// the whole run, and watches keys application-wide before they reach any widget.
class CWendrakeTerminalApp : public QObject {
    Q_OBJECT

public:
    // settings: where the settings and options files live (a plain folder name: always there).
    CWendrakeTerminalApp(std::unique_ptr<HidPlatform> platform,
                         std::unique_ptr<UserPrompts> prompts, SettingsFolder settings = {});
    ~CWendrakeTerminalApp() override;

    CWendrakeTerminalApp(const CWendrakeTerminalApp&) = delete;
    CWendrakeTerminalApp& operator=(const CWendrakeTerminalApp&) = delete;

    // Runs the terminal window until it closes; false, so no message loop of the app follows.
    bool InitInstance();

    // The terminal window with everything the shell gives it (About box); for InitInstance and
    // for tests that drive the window without a modal run.
    std::unique_ptr<CWendrakeTerminalDlg> CreateMainWindow();

    HidPlatform& Platform() { return *m_platform; }
    UserPrompts& Prompts() { return *m_prompts; }
    // The window being run, or null; the key watch reaches the window's commands through it.
    CWendrakeTerminalDlg* MainWindow() const { return m_mainWindow; }
    void SetMainWindow(CWendrakeTerminalDlg* window) { m_mainWindow = window; }

    // What a program adds to each window it runs (the demo's menu); called by CreateMainWindow.
    void SetWindowExtras(std::function<void(CWendrakeTerminalDlg&)> extras) {
        m_windowExtras = std::move(extras);
    }

    // Sees every event of the application before its receiver; true swallows it.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<HidPlatform> m_platform;
    std::unique_ptr<UserPrompts> m_prompts;
    // What the window gets of the platform: the adapter, the notices, why none can be opened.
    CWendrake m_adapter{*m_platform};
    PlatformNoticeSource m_notices{*m_platform};
    AccessExplanation m_access{*m_platform};
    SettingsFolder m_settings;
    CWendrakeTerminalDlg* m_mainWindow = nullptr;
    std::function<void(CWendrakeTerminalDlg&)> m_windowExtras;

public:
    // Key watch state of the hidden pin test sequence (Ctrl, Shift, T).
    bool CtrlDown = false;
    bool ShiftDown = false;
};
