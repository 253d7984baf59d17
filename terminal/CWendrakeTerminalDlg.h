#pragma once

#include "config/SettingsFile.h"
#include "config/TerminalSettings.h"
#include "device/CWendrake.h"
#include "device/WendrakeTypes.h"
#include "device/platform/HidPlatform.h"
#include "resources/UserPrompts.h"
#include "terminal/FileSender.h"
#include "terminal/ReceiveDataFile.h"
#include "terminal/ReceiveThread.h"
#include "terminal/ReceivedText.h"

#include <QDialog>
#include <QFile>
#include <QIcon>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QMenuBar;
class QPlainTextEdit;
class DialogBuilder;
class ReceiveView;
class TransferBox;

// The program's main window: adapter list, connection lifecycle, status line and pin lists, and
// the commands of the receive, send, pin and settings work.
class CWendrakeTerminalDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int PinPollTimerId = 85;
    static constexpr int PinPollPeriodMs = 200;
    // Settling time after enabling the UART, and the length of the Q3 Reset pulse.
    static constexpr int ConnectPauseMs = 50;
    static constexpr const char* HelpFileName = "Wendrake Terminal Help.chm";

    // settingsDirectory empty: the executable's directory.
    CWendrakeTerminalDlg(HidPlatform& platform, UserPrompts& prompts,
                         QString settingsDirectory = {}, QWidget* parent = nullptr);
    ~CWendrakeTerminalDlg() override;

    CWendrakeTerminalDlg(const CWendrakeTerminalDlg&) = delete;
    CWendrakeTerminalDlg& operator=(const CWendrakeTerminalDlg&) = delete;

    CWendrake& Adapter() { return m_adapter; }
    TerminalSettings& Settings() { return m_settings; }
    UserPrompts& Prompts() { return m_prompts; }
    SettingsFile& SettingsStore() { return m_settingsFile; }
    // The control of a template id, or null.
    QWidget* Control(int id) const;
    QAction* MenuAction(int id) const;
    bool IsAsciiFormat() const;
    QIcon OnQueryDragIcon() const { return m_appIcon; }

    // ---- Connection ----
    void ToggleConnection();
    // True when connected, possibly after connecting on the user's request.
    bool EnsureConnected();
    void UpdateConnectionStatus();
    void RefreshDeviceList();
    bool OnDeviceChange(std::uint32_t event, const DeviceNotice& notice);

    // ---- Pin poll timer (the pin test dialog stops it while it polls by itself) ----
    void StartPinPollTimer();
    void StopPinPollTimer();
    bool IsPinPollActive() const { return m_pinPollTimer.isActive(); }
    void OnTimer(int id);

    // Who opens the About box; the application shell provides it.
    void SetAboutBox(std::function<void()> runAboutBox) { m_runAboutBox = std::move(runAboutBox); }

    // Bound members to controls (false) or controls to bound members (true).
    void UpdateData(bool saveAndValidate);

    // ---- Receive and capture ----
    // The caret goes here after a format switch (or to the end of a shorter text).
    static constexpr qint64 FormatSwitchCaret = 65535;
    // One read of the receive thread, on the window's thread: capture file, stored texts, view.
    void AppendReceivedText(const QByteArray& bytes);
    void ToggleCapture();
    QByteArray AsciiText() const { return m_received.asciiText(); }
    QByteArray HexText() const { return m_received.hexText(); }
    const ReceivedText& ReceivedData() const { return m_received; }

    // ---- Sending ----
    // Bound on the wait for each report of a typed send, so a stalled adapter cannot hold the
    // window; running into it fails the send like any other write failure.
    static constexpr std::uint32_t TypedSendReportTimeoutMs = 2000;
    // The file transfer state: block, length, progress counter and the open file.
    FileSender& FileTransfer() { return m_fileSender; }

public slots:
    // ---- Window and connection ----
    void OnConnect();
    void OnExit();
    void OnHelp();
    void OnAbout();

    // ---- Receive and capture ----
    void OnDataFormat();
    void OnClear();
    void OnBrowseReceiveFile();
    void OnCapture();
    void OnSaveAsciiData();
    void OnSaveHexData();

    // ---- Sending ----
    void OnSendData();
    void OnTransferTextChange();
    void OnClearSentTransferData();
    void OnAutoSendTransferText();
    void OnSendFile();

    // ---- Pins, FIFO, settings ----
    void OnSetPinStates();
    void OnViewFifoStatus();
    void OnPurgeFifo();
    void OnSettings();
    void OnPinTest();

public:
    void done(int result) override;

protected:
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
    bool connectSequence();
    void tearDown();
    void releaseBuffers();
    void restoreAndCloseAdapter();
    void showError(const QString& text);

    // ---- Receive view, capture and saving ----
    void BlankReceiveView(bool blank);
    void SaveTextToFile(const QString& defaultFileName, const ReceivedText::Snapshot& text);

    // ---- Hooks of the receive and send work ----
    void StartReceiveThread();
    void StopReceiveThread();
    void StopFileSend();

    HidPlatform& m_platform;
    UserPrompts& m_prompts;
    SettingsFile m_settingsFile;
    CWendrake m_adapter;
    TerminalSettings m_settings;
    QIcon m_appIcon;
    QMenuBar* m_menuBar = nullptr;

    // Controls.
    QPlainTextEdit* TransferBox = nullptr;
    ::ReceiveView* ReceiveView = nullptr;
    QComboBox* AdapterList = nullptr;
    QComboBox* Gpio0Action = nullptr;
    QComboBox* Gpio1Action = nullptr;
    QComboBox* Q3ResetAction = nullptr;

    // Bound members.
    int Connected = 0;
    QString StatusText = QStringLiteral("NOT CONNECTED");
    QString ReceiveFileName = QStringLiteral("receive_data.txt");
    int CaptureActive = 0;
    QString Gpio0Label;
    QString Gpio0State;
    QString Gpio1Label;
    QString Gpio1State;
    QString Q3ResetState;

    // The adapter's own UART configuration as found at connect; written back only if it was
    // read, so a failed read never pushes made-up values to the adapter.
    UartConfig SavedUartConfig;
    bool SavedUartConfigValid = false;

    QFont TerminalFont;
    QTimer m_pinPollTimer;
    // One pin test dialog at a time: its own poll stands in for the window's while it is open.
    bool m_pinTestOpen = false;
    bool DeviceNotification = false;
    bool m_destroyed = false;
    bool m_focusSet = false;
    std::function<void()> m_runAboutBox;

    // Receive buffer of one ReadUart, owned by connect and tear-down. Kept 32-bit: a 16-bit
    // size would wrap for large input queues and every read would then be refused.
    std::unique_ptr<std::uint8_t[]> ReceiveBuffer;
    std::uint32_t ReceiveBufferSize = 0;

    // ---- Sending ----
    ::TransferBox* transferBox() const;
    void toggleSendOption(std::int32_t& flag, int menuItemId);
    void showFileError(const QString& text);
    QString SendText;   // the box's text as OnSendData took it
    QString ChangeText; // the box's text as OnTransferTextChange took it
    // File send block, length and progress counter; stopped and released by the tear-down.
    FileSender m_fileSender{m_adapter};

    // Capture (the receive work opens and writes it; destruction closes it).
    ReceiveDataFile CaptureFile;
    // Everything received since the last Clear: AsciiText and HexText are made from it.
    ReceivedText m_received;
    ReceiveThread m_receiveThread{[this](const QByteArray& bytes) { AppendReceivedText(bytes); }};
};
