#include "connection/TerminalSession.h"

#include "connection/HexTextParser.h"

#include <QDateTime>

#include <algorithm>

TerminalSession::TerminalSession(CWendrake& adapter, SettingsFolder settings, QObject* parent)
    : QObject(parent), m_adapter(adapter), m_settingsFile(settings),
      m_optionsFile(std::move(settings)) {
    m_pinPollTimer.setInterval(PinPollPeriodMs);
    connect(&m_pinPollTimer, &QTimer::timeout, this, &TerminalSession::PollPins);
}

TerminalSession::~TerminalSession() {
    StopReceiving();
    Close();
}

// =============================================================================================
// Settings
// =============================================================================================

void TerminalSession::LoadSettings() {
    m_settingsFile.LoadSettings(m_settings);
}

void TerminalSession::SaveSettings() {
    m_settingsFile.SaveSettings(m_settings);
}

void TerminalSession::LoadOptions() {
    m_options = m_optionsFile.Load();
}

bool TerminalSession::SaveOptions() {
    return m_optionsFile.Save(m_options);
}

void TerminalSession::StoreAdapterSettings() {
    if (m_adapter.IsConnected()) {
        m_adapter.GetUartConfig(&m_settings.Uart);
        m_adapter.GetPinConfig(&m_settings.Pins);
    }
    SaveSettings();
}

// =============================================================================================
// Adapters and connection
// =============================================================================================

QStringList TerminalSession::AdapterSerials() {
    const unsigned count = m_adapter.GetDeviceCount();
    QStringList serials;
    std::string serial;
    for (unsigned i = 0; i < count; ++i) {
        m_adapter.GetSerialString(i, serial);
        serials << QString::fromLatin1(serial.data(), qsizetype(serial.size()));
    }
    return serials;
}

int TerminalSession::CurrentAdapterIndex(const QStringList& listed, int entry) {
    if (entry < 0 || entry >= listed.size())
        return -1;
    const QString& serial = listed[entry];
    const auto repeats = std::count(listed.begin(), listed.begin() + entry, serial);
    const QStringList now = AdapterSerials();
    qsizetype seen = 0;
    for (int i = 0; i < now.size(); ++i)
        if (now[i] == serial && seen++ == repeats)
            return i;
    return -1;
}

TerminalSession::ConnectResult TerminalSession::Connect(int adapterIndex) {
    const ConnectResult result = connectSteps(adapterIndex);
    if (result == ConnectResult::Connected)
        emit connectionChanged(true);
    return result;
}

// Steps up to a running connection; on a failure the caller's tear-down cleans up.
TerminalSession::ConnectResult TerminalSession::connectSteps(int adapterIndex) {
    if (adapterIndex < 0)
        return ConnectResult::NoDeviceSelected;
    m_lastConnectStatus = m_connection.Open(unsigned(adapterIndex));
    if (m_lastConnectStatus != WendrakeOk)
        return ConnectResult::ConnectFailed;

    if (m_connection.StartUart(m_settings.ToggleResetOnConnect != 0, [this](bool blank) {
            emit receiveBlanked(blank);
        }) != AdapterConnection::UartResult::Started)
        return ConnectResult::UartNotEnabled;
    if (!m_connection.StartReceiving())
        return ConnectResult::NoBuffer;
    StartPinPoll();

    // The receive thread already runs while the configuration is written.
    m_adapter.SetPinConfig(&m_settings.Pins);
    m_adapter.SetUartConfig(&m_settings.Uart);
    return ConnectResult::Connected;
}

void TerminalSession::Disconnect() {
    m_connection.StopReceiving();
    StopPinPoll();
    releaseBuffers();
    m_connection.RestoreAndClose();
    emit connectionChanged(false);
}

void TerminalSession::StopReceiving() {
    // Nothing may append to the capture file or the texts after this.
    m_connection.StopReceiving();
    if (m_captureFile.isOpen())
        m_captureFile.close();
}

void TerminalSession::Close() {
    StopPinPoll();
    releaseBuffers();
    m_connection.RestoreAndClose();
}

void TerminalSession::releaseBuffers() {
    // A file send still running is stopped and waited for; that releases its block.
    m_fileSender.Stop();
}

void TerminalSession::PollPins() {
    if (!m_adapter.IsConnected()) {
        StopPinPoll();
        return;
    }
    std::uint8_t latch = 0;
    if (m_adapter.GetPinLatch(&latch) != WendrakeOk) {
        emit pinPollFailed();
        return;
    }
    emit pinLevelsRead(latch);
}

void TerminalSession::NoteAdapterLost() {
    if (m_options.AutoReconnect && !m_connectedSerial.isEmpty())
        m_reconnectSerial = m_connectedSerial;
}

bool TerminalSession::StopWaitingForReconnect() {
    if (m_reconnectSerial.isEmpty())
        return false;
    m_reconnectSerial.clear();
    return true;
}

// =============================================================================================
// Received data and capture
// =============================================================================================

void TerminalSession::AppendReceived(const QByteArray& bytes, qint64 arrivalMs) {
    // 1. Capture first, in its form; a failed write ends the capture, the data stays.
    bool captureFailed = false;
    if (m_captureFile.isOpen()) {
        const QByteArray chunk = m_captureHex ? ReceivedText::hexChunk(bytes) : bytes;
        captureFailed = !m_captureFile.write(chunk.constData(), chunk.size());
    }
    // 2, 3. Both stored texts; a form feed anywhere in the read starts the ASCII text afresh.
    m_received.append(bytes, arrivalMs < 0 ? QDateTime::currentMSecsSinceEpoch() : arrivalMs);
    if (m_captureFile.isOpen() && !captureFailed &&
        m_capturedBytes == m_received.byteCount() - bytes.size())
        m_capturedBytes = m_received.byteCount();
    emit receivedAppended();
    // Reported last: the window's message box lets later reads in, and a disconnect may stop
    // the receive thread, and this read must be in place before either.
    if (captureFailed)
        emit captureWriteFailed();
}

bool TerminalSession::StartCapture(const QString& path, bool hex) {
    if (!m_captureFile.open(path))
        return false;
    m_captureHex = hex;
    m_captureFrom = m_capturedBytes = m_received.byteCount();
    return true;
}

void TerminalSession::StopCapture() {
    m_captureFile.close();
    // The closed file keeps what it holds: saved, when it joins on to what was saved before.
    if (m_captureFrom <= m_savedBytes)
        m_savedBytes = std::max(m_savedBytes, m_capturedBytes);
}

void TerminalSession::ClearReceived() {
    m_received.clear();
    ++m_clears;
    m_savedBytes = m_captureFrom = m_capturedBytes = 0;
}

bool TerminalSession::HasUnsavedReceived() const {
    qint64 kept = m_savedBytes;
    if (m_captureFile.isOpen() && m_captureFrom <= kept)
        kept = std::max(kept, m_capturedBytes);
    return m_received.byteCount() > kept;
}

void TerminalSession::NoteSaved(qint64 byteCount, quint64 clearsBefore) {
    if (clearsBefore == m_clears)
        m_savedBytes = std::max(m_savedBytes, byteCount);
}

TerminalSession::SaveResult TerminalSession::SaveText(const QString& path,
                                                      const ReceivedText::Snapshot& text) {
    ReceiveDataFile file;
    if (!file.open(path))
        return SaveResult::CreateFailed;
    const bool written = text.forEachPiece(
        [&file](const char* data, qint64 size) { return file.write(data, size); });
    file.close();
    return written ? SaveResult::Saved : SaveResult::WriteFailed;
}

// =============================================================================================
// Sending, pins and FIFO
// =============================================================================================

QByteArray TerminalSession::LineEndingBytes(LineEnding ending) {
    switch (ending) {
    case LineEnding::Cr:
        return QByteArray("\r");
    case LineEnding::Lf:
        return QByteArray("\n");
    case LineEnding::CrLf:
        return QByteArray("\r\n");
    case LineEnding::None:
        break;
    }
    return {};
}

bool TerminalSession::SendText(const QString& text, bool hex, LineEnding ending) {
    try {
        QByteArray bytes = HexTextParser::TextToLatin1(text);
        if (hex)
            bytes = HexTextParser::ParseHexText(std::move(bytes));
        else
            bytes += LineEndingBytes(ending);
        // Each report waits a bounded time; a stalled adapter fails the send instead of
        // holding the window.
        return bytes.size() <= qsizetype(UINT32_MAX) &&
               m_adapter.WriteUart(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   std::uint32_t(bytes.size()), nullptr,
                                   TypedSendReportTimeoutMs) == WendrakeOk;
    } catch (const std::bad_alloc&) {
        // No room for the bytes: nothing is sent.
        return false;
    }
}

std::optional<UartConfig> TerminalSession::ReadUartConfig() {
    UartConfig uart;
    if (m_adapter.GetUartConfig(&uart) != WendrakeOk)
        return std::nullopt;
    return uart;
}

std::optional<PinConfig> TerminalSession::ReadPinConfig() {
    PinConfig pins;
    if (m_adapter.GetPinConfig(&pins) != WendrakeOk)
        return std::nullopt;
    return pins;
}

bool TerminalSession::SetPinStates(std::uint8_t values, std::uint8_t mask) {
    return m_adapter.SetPinLatch(values, mask) == WendrakeOk;
}

std::optional<FifoStatus> TerminalSession::ReadFifoStatus() {
    FifoStatus fifo;
    if (m_adapter.GetFifoStatus(&fifo) != WendrakeOk)
        return std::nullopt;
    return fifo;
}

bool TerminalSession::PurgeFifo() {
    // Both FIFOs, no confirmation.
    return m_adapter.PurgeFifo(true, true) == WendrakeOk;
}
