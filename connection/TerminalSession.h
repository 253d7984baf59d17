#pragma once

#include "config/OptionsFile.h"
#include "config/SettingsFile.h"
#include "config/TerminalOptions.h"
#include "config/TerminalSettings.h"
#include "connection/AdapterConnection.h"
#include "connection/FileSender.h"
#include "connection/ReceiveDataFile.h"
#include "connection/ReceivedText.h"
#include "device/CWendrake.h"
#include "device/WendrakeTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <optional>

// One connection to one adapter, without any widget: the connect and tear-down sequences, the
// receive thread with its buffer, the pin poll, the file sender, the capture file, the received
// texts and the settings record. Every member runs on the window's thread; the receive thread
// and the file worker only ever call ReadUart and WriteUart (see ARCHITECTURE.md). The window
// shows what the signals report and turns the results into messages.
class TerminalSession : public QObject {
    Q_OBJECT

public:
    static constexpr int PinPollPeriodMs = 200;
    // Settling time after enabling the UART, and the length of the Q3 Reset pulse.
    static constexpr int ConnectPauseMs = AdapterConnection::ConnectPauseMs;
    // Bound on the wait for each report of a typed send, so a stalled adapter cannot hold the
    // window; running into it fails the send like any other write failure.
    static constexpr std::uint32_t TypedSendReportTimeoutMs = 2000;

    enum class ConnectResult {
        Connected,
        NoDeviceSelected,
        ConnectFailed,
        UartNotEnabled,
        NoBuffer
    };
    enum class SaveResult { Saved, CreateFailed, WriteFailed };

    // settings: where the settings and options files live (a plain folder name: always there).
    explicit TerminalSession(CWendrake& adapter, SettingsFolder settings = {},
                             QObject* parent = nullptr);
    ~TerminalSession() override;

    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    CWendrake& Adapter() { return m_adapter; }
    bool IsConnected() { return m_adapter.IsConnected(); }
    // What the adapter's Connect answered in the last connect attempt that got that far.
    WendrakeStatus LastConnectStatus() const { return m_lastConnectStatus; }

    // ---- Settings record and file ----
    TerminalSettings& Settings() { return m_settings; }
    SettingsFile& SettingsStore() { return m_settingsFile; }
    void LoadSettings();
    void SaveSettings();
    // The options file beside the settings file (same folder, whichever place that is).
    TerminalOptions& Options() { return m_options; }
    void LoadOptions();
    bool SaveOptions();
    // After the settings dialog: what the adapter really took goes into the record (a failed
    // read leaves the dialog's values), then the record is saved.
    void StoreAdapterSettings();

    // ---- Adapters ----
    // One entry per attached adapter that can be opened, in match-index order; an unreadable
    // serial still gets its entry (repeating the previous text), so indexes keep matching.
    QStringList AdapterSerials();
    // Where entry `entry` of a list built earlier is in today's enumeration: the same serial,
    // counting the entries before it that repeat that serial. -1 when it is no longer there.
    int CurrentAdapterIndex(const QStringList& listed, int entry);

    // ---- Connection ----
    // The whole connect sequence for the adapter of that match index (-1: none selected). On
    // any result but Connected the caller tells the user and then runs Disconnect.
    ConnectResult Connect(int adapterIndex);
    // The tear-down, in any state: receive thread stopped, poll stopped, buffers released (a
    // running file send stopped first), UART off, the adapter's own configuration back, closed.
    // Emits connectionChanged(false).
    void Disconnect();
    // The tear-down of the window's end: the same steps, capture closed, nothing emitted.
    void StopReceiving();
    void Close();

    // ---- Pin poll ----
    void StartPinPoll() { m_pinPollTimer.start(); }
    void StopPinPoll() { m_pinPollTimer.stop(); }
    bool IsPinPollActive() const { return m_pinPollTimer.isActive(); }
    // One tick: pinLevelsRead, or pinPollFailed when the adapter no longer answers; stops
    // itself when not connected.
    void PollPins();

    // ---- Received data and capture ----
    // One read of the receive thread: capture file first (in its form), then the stored texts.
    // arrivalMs: local time the read completed, in ms since the epoch; -1 for now.
    void AppendReceived(const QByteArray& bytes, qint64 arrivalMs = -1);
    void ClearReceived();
    const ReceivedText& Received() const { return m_received; }
    ReceivedText& Received() { return m_received; }
    // The thread that reads the adapter's UART and hands the reads over (figures, tests).
    const ReceiveThread& Receiver() const { return m_connection.Receiver(); }
    // The capture keeps one form for its whole length: the bytes as they came, or hex groups.
    bool StartCapture(const QString& path, bool hex);
    void StopCapture();
    bool IsCapturing() const { return m_captureFile.isOpen(); }
    static SaveResult SaveText(const QString& path, const ReceivedText::Snapshot& text);
    // Received bytes that are in neither a saved file nor the capture file.
    bool HasUnsavedReceived() const;
    // A save of everything received before this byte count succeeded; clearsBefore: the
    // ClearCount when the text was taken (a Clear since makes the save cover nothing now).
    void NoteSaved(qint64 byteCount, quint64 clearsBefore);
    quint64 ClearCount() const { return m_clears; }

    // ---- Sending ----
    // The transfer box's text as bytes (hex: parsed as byte tokens), written with the typed
    // send's bounded wait. False when anything was not sent.
    // In ASCII Format the line ending given goes after the text, also after an empty one.
    bool SendText(const QString& text, bool hex, LineEnding ending = LineEnding::None);
    static QByteArray LineEndingBytes(LineEnding ending);
    FileSender& FileTransfer() { return m_fileSender; }

    // ---- Pins and FIFO ----
    std::optional<UartConfig> ReadUartConfig();
    std::optional<PinConfig> ReadPinConfig();
    bool SetPinStates(std::uint8_t values, std::uint8_t mask);
    std::optional<FifoStatus> ReadFifoStatus();
    bool PurgeFifo();

    // ---- Automatic reconnect ----
    // The serial of the adapter connected; the window notes it at connect.
    void SetConnectedSerial(const QString& serial) { m_connectedSerial = serial; }
    // The pin poll found the adapter gone: with automatic reconnect on, its serial is waited
    // for.
    void NoteAdapterLost();
    // The serial waited for; empty when none.
    QString ReconnectSerial() const { return m_reconnectSerial; }
    void WaitForReconnect(const QString& serial) { m_reconnectSerial = serial; }
    // Ends a wait; true when there was one.
    bool StopWaitingForReconnect();

signals:
    // The connection came up (true) or a tear-down ended (false).
    void connectionChanged(bool connected);
    // The Q3 Reset pulse at connect: the receive view goes blank, then shows its text again.
    void receiveBlanked(bool blank);
    // AppendReceived stored new bytes.
    void receivedAppended();
    // A capture write failed, after the read was stored; the capture is still open for the
    // window to end.
    void captureWriteFailed();
    void pinLevelsRead(std::uint8_t latch);
    // The adapter is gone or no longer answers: the window disconnects without a message.
    void pinPollFailed();

private:
    ConnectResult connectSteps(int adapterIndex);
    void releaseBuffers();

    CWendrake& m_adapter;
    SettingsFile m_settingsFile;
    OptionsFile m_optionsFile;
    WendrakeStatus m_lastConnectStatus = WendrakeOk;
    TerminalSettings m_settings;
    TerminalOptions m_options;
    QString m_connectedSerial;
    QString m_reconnectSerial;

    QTimer m_pinPollTimer;

    // File send block, length and progress counter; stopped and released by the tear-down.
    FileSender m_fileSender{m_adapter};
    ReceiveDataFile m_captureFile;
    bool m_captureHex = false;
    // Everything received since the last Clear.
    ReceivedText m_received;
    quint64 m_clears = 0;
    // What would be lost: the bytes before m_savedBytes are in a saved file; those from
    // m_captureFrom to m_capturedBytes went into the open capture file.
    qint64 m_savedBytes = 0;
    qint64 m_captureFrom = 0;
    qint64 m_capturedBytes = 0;
    // The handshakes, the adapter's own configuration, the receive thread with its buffer.
    AdapterConnection m_connection{m_adapter, [this](const QByteArray& bytes, qint64 arrivalMs) {
                                       AppendReceived(bytes, arrivalMs);
                                   }};
};
