#include "connection/AdapterConnection.h"

#include "device/WendrakeProtocol.h"

#include <chrono>
#include <thread>

namespace {

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

AdapterConnection::AdapterConnection(CWendrake& adapter, ReceiveThread::BatchHandler handler)
    : m_adapter(adapter), m_receiveThread(std::move(handler)) {}

AdapterConnection::~AdapterConnection() {
    Close();
}

WendrakeStatus AdapterConnection::Open(unsigned adapterIndex) {
    return m_adapter.Connect(adapterIndex);
}

AdapterConnection::UartResult AdapterConnection::StartUart(bool pulseReset,
                                                           const BlankHandler& blank) {
    // The adapter's own configuration comes back at the end. Flow control goes off before the
    // UART starts, so a peer that holds CTS cannot stall it.
    m_savedUartConfig.reset();
    UartConfig saved;
    if (m_adapter.GetUartConfig(&saved) == WendrakeOk) {
        m_savedUartConfig = saved;
        if (saved.FlowControl == FlowControlRtsCts) {
            UartConfig withoutFlowControl = saved;
            withoutFlowControl.FlowControl = FlowControlNone;
            m_adapter.SetUartConfig(&withoutFlowControl);
        }
    }

    if (m_adapter.EnableUart() != WendrakeOk)
        return UartResult::NotEnabled;
    pause(ConnectPauseMs);

    if (pulseReset) {
        // Pulse Q3 Reset low; what the target sent while in reset is dropped.
        m_adapter.SetPinLatch(WendrakeProtocol::Q3ResetLowLatch, PinLatchBit::Q3Reset);
        pause(ConnectPauseMs);
        m_adapter.FlushReceiveReports();
        if (blank)
            blank(true);
        m_adapter.SetPinLatch(PinLatchBit::Q3Reset, PinLatchBit::Q3Reset);
        if (blank)
            blank(false);
    }
    return UartResult::Started;
}

bool AdapterConnection::StartReceiving() {
    return m_receiveThread.start(m_adapter, m_adapter.GetReceiveBufferSize());
}

std::optional<UartConfig> AdapterConnection::SavedUartConfig() const {
    return m_savedUartConfig;
}

void AdapterConnection::StopReceiving() {
    // The thread reads its buffer and the adapter: it stops before the adapter closes.
    m_receiveThread.stop();
}

void AdapterConnection::RestoreAndClose(bool keepSettings) {
    if (!m_adapter.IsConnected())
        return;
    m_adapter.DisableUart();
    if (m_savedUartConfig && !keepSettings)
        m_adapter.SetUartConfig(&*m_savedUartConfig);
    m_adapter.Disconnect();
    m_savedUartConfig.reset();
}

void AdapterConnection::Close(bool keepSettings) {
    StopReceiving();
    RestoreAndClose(keepSettings);
}
