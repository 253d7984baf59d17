#pragma once

#include "config/SettingsFile.h"
#include "config/TerminalSettings.h"
#include "connection/AccessExplanation.h"
#include "connection/AdapterNoticeSource.h"
#include "connection/FileSender.h"
#include "connection/ReceivedText.h"
#include "connection/TerminalSession.h"
#include "device/CWendrake.h"
#include "device/WendrakeTypes.h"
#include "dialogs/UserPrompts.h"
#include "terminal/CaptureCommands.h"
#include "terminal/CommandWindow.h"
#include "terminal/OptionCommands.h"
#include "terminal/PinCommands.h"
#include "terminal/ReceivePanel.h"
#include "terminal/SendCommands.h"
#include "terminal/TerminalPrompts.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QMenuBar;
class DialogBuilder;
class ReceiveFindBar;
class ReceiveView;
class TransferBox;
class PinPanel;
class AdapterChooser;
class ReceivePanel;

// The program's main window: the widgets, the adapter list and its notices, the status line and
// pin lists. The connection itself (sequences, threads, files) is the TerminalSession's; the
// send, pin, option and capture commands are SendCommands', PinCommands', OptionCommands' and
// CaptureCommands'. The handlers here forward to them.
class CWendrakeTerminalDlg : public QDialog, public CommandWindow {
    Q_OBJECT

public:
    // The caret goes here after a format switch (or to the end of a shorter text).
    static constexpr qint64 FormatSwitchCaret = 65535;

    // The window drives adapter, learns of adapters coming and going from notices and asks
    // access why none could be opened; all three outlive it. settings: where the settings and
    // options files live.
    CWendrakeTerminalDlg(CWendrake& adapter, AdapterNoticeSource& notices,
                         const AccessExplanation& access, UserPrompts& prompts,
                         SettingsFolder settings = {}, QWidget* parent = nullptr);
    ~CWendrakeTerminalDlg() override;

    CWendrakeTerminalDlg(const CWendrakeTerminalDlg&) = delete;
    CWendrakeTerminalDlg& operator=(const CWendrakeTerminalDlg&) = delete;

    TerminalSession& Session() { return m_session; }
    ReceiveFindBar* FindBar() const { return m_receive->findBar(); }
    // The adapter that was lost and is waited for (automatic reconnect); empty when none.
    QString ReconnectSerial() const { return m_session.ReconnectSerial(); }
    CWendrake& Adapter() { return m_adapter; }
    TerminalSettings& Settings() { return m_session.Settings(); }
    UserPrompts& Prompts() { return m_prompts.Prompts(); }
    SettingsFile& SettingsStore() { return m_session.SettingsStore(); }
    // The control of a template id, or null.
    QWidget* Control(int id) const override;
    QAction* MenuAction(int id) const;
    TransferBox* Transfer() const override { return m_transferBox; }
    bool IsAsciiFormat() const override;
    QWidget* DialogOwner() override { return this; }
    void SetMenuMark(int itemId, bool checked) override;
    int ListPosition(int controlId) const override;

    // ---- Connection ----
    void ToggleConnection() override;
    // True when connected, possibly after connecting on the user's request.
    bool EnsureConnected() override;
    void UpdateConnectionStatus() override;
    void RefreshDeviceList();
    bool OnDeviceChange(std::uint32_t event, const DeviceNotice& notice);

    // ---- Pin poll timer (the pin test dialog stops it while it polls by itself) ----
    void StartPinPollTimer() { m_session.StartPinPoll(); }
    void StopPinPollTimer() { m_session.StopPinPoll(); }
    bool IsPinPollActive() const { return m_session.IsPinPollActive(); }

    // Who opens the About box; the application shell provides it.
    void SetAboutBox(std::function<void()> runAboutBox) { m_runAboutBox = std::move(runAboutBox); }

    // Bound members to controls (false) or controls to bound members (true).
    void UpdateData(bool saveAndValidate) override;

    // ---- Receive and capture ----
    // One read of the receive thread, on the window's thread: capture file, stored texts, view.
    void AppendReceivedText(const QByteArray& bytes, qint64 arrivalMs = -1) {
        m_session.AppendReceived(bytes, arrivalMs);
    }
    void ToggleCapture() { m_capture.ToggleCapture(); }
    QByteArray AsciiText() const { return m_session.Received().asciiText(); }
    QByteArray HexText() const { return m_session.Received().hexText(); }
    const ReceivedText& ReceivedData() const { return m_session.Received(); }

    // ---- Sending ----
    // The file transfer state: block, length, progress counter and the open file.
    FileSender& FileTransfer() { return m_session.FileTransfer(); }

public slots:
    // ---- Window and connection ----
    void OnConnect();
    void OnExit() { reject(); }
    void OnHelp();
    void OnAbout() {
        if (m_runAboutBox)
            m_runAboutBox();
    }

    // ---- Receive and capture ----
    void OnDataFormat();
    void OnClear();
    void OnBrowseReceiveFile() { m_capture.BrowseReceiveFile(); }
    void OnCapture() { ToggleCapture(); }
    void OnSaveAsciiData() { m_capture.SaveAsciiData(); }
    void OnSaveHexData() { m_capture.SaveHexData(); }

    // ---- Sending ----
    void OnSendData() { m_send.SendData(); }
    void OnTransferTextChange() { m_send.TransferTextChanged(); }
    void OnClearSentTransferData() { m_send.ToggleClearSentTransferData(); }
    void OnAutoSendTransferText() { m_send.ToggleAutoSendTransferText(); }
    void OnSendFile() { m_send.SendFile(); }

    // ---- Pins, FIFO, settings ----
    void OnSetPinStates() { m_pins.SetPinStates(); }
    void OnViewFifoStatus() { m_pins.ViewFifoStatus(); }
    void OnPurgeFifo() { m_pins.PurgeFifo(); }
    void OnSettings() { m_pins.Settings(); }
    void OnPinTest() { m_pins.PinTest(); }

    // ---- Find, view and send options ----
    void OnFind() { m_receive->find(); }
    void OnFindNext() { m_receive->findNext(); }
    void OnFindPrevious() { m_receive->findPrevious(); }
    void OnFollowNewData() { toggleOption(&TerminalOptions::FollowNewData); }
    void OnHoldWhileReading() { toggleOption(&TerminalOptions::HoldWhileReading); }
    void OnShowTimestamps() { toggleOption(&TerminalOptions::ShowTimestamps); }
    void OnHexDumpLayout() { toggleOption(&TerminalOptions::HexDumpLayout); }
    void OnLineEnding(LineEnding ending) { m_options.SetLineEnding(ending, m_receive->view()); }
    void OnAutoReconnect() { toggleOption(&TerminalOptions::AutoReconnect); }

public:
    void done(int result) override;

protected:
    // Escape asks before it ends the program with received data in no file.
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool OnInitDialog();
    void OnSize();
    void OnDestroy();
    void RegisterAdapterNotification();
    void UnregisterAdapterNotification();

    void installCustomWidgets(DialogBuilder& builder);
    void connectCommands();
    void connectSession();
    void toggleOption(bool TerminalOptions::*option) {
        m_options.Toggle(option, m_receive->view());
    }
    void applyMinimumSize();
    // The pin poll found the adapter gone: disconnect, and wait for it when asked to.
    void onAdapterLost();
    void reconnectIfBack();
    void showConnectionState(bool connected);

    AdapterNoticeSource& m_notices;
    const AccessExplanation& m_access;
    TerminalPrompts m_prompts;
    CWendrake& m_adapter;
    TerminalSession m_session;
    SendCommands m_send{*this, m_session, m_prompts};
    PinCommands m_pins{*this, m_session, m_prompts};
    OptionCommands m_options{*this, m_session};
    QIcon m_appIcon;
    QMenuBar* m_menuBar = nullptr;

    // Controls.
    TransferBox* m_transferBox = nullptr;
    std::unique_ptr<ReceivePanel> m_receive;
    std::unique_ptr<AdapterChooser> m_adapters;
    std::unique_ptr<PinPanel> m_pinPanel;

    // Bound members.
    int Connected = 0;
    QString StatusText = QStringLiteral("NOT CONNECTED");
    QString ReceiveFileName = QStringLiteral("receive_data.txt");
    int CaptureActive = 0;
    // After the bound members it sets.
    CaptureCommands m_capture{*this, m_session, m_prompts, ReceiveFileName, CaptureActive};

    QFont TerminalFont;
    bool DeviceNotification = false;
    bool m_destroyed = false;
    bool m_focusSet = false;
    std::function<void()> m_runAboutBox;
};
