#pragma once

#include "connection/ReceiveThread.h"
#include "device/CWendrake.h"
#include "device/WendrakeTypes.h"

#include <cstdint>
#include <functional>
#include <optional>

// The connect and tear-down sequences of one adapter, for the window's session and the command
// line alike: the handshake, the adapter's own UART configuration kept from connect to the end,
// flow control off before the UART starts, the UART with its settling pause, the receive thread
// with its buffer, and the tear-down in the order the threads need (see ARCHITECTURE.md).
class AdapterConnection {
public:
    // Settling time after enabling the UART, and the length of the Q3 Reset pulse.
    static constexpr int ConnectPauseMs = 50;

    enum class UartResult { Started, NotEnabled };
    // Told true when the Q3 Reset pulse begins discarding input, false when it is over.
    using BlankHandler = std::function<void(bool blank)>;

    AdapterConnection(CWendrake& adapter, ReceiveThread::BatchHandler handler);
    // The whole tear-down, the adapter's configuration written back.
    ~AdapterConnection();

    AdapterConnection(const AdapterConnection&) = delete;
    AdapterConnection& operator=(const AdapterConnection&) = delete;

    CWendrake& Adapter() { return m_adapter; }

    // The handshake with the adapter of that match index. Commands that do not use the UART
    // (configuration, pins, FIFO) need no more; on a failure the caller runs the tear-down.
    WendrakeStatus Open(unsigned adapterIndex);
    // After Open: the adapter's own configuration read and kept, flow control off if it was on,
    // the UART enabled, the pause, the optional Q3 Reset pulse (input queued meanwhile dropped).
    // On a failure the caller runs the tear-down.
    UartResult StartUart(bool pulseReset, const BlankHandler& blank = {});
    // The receive thread with a buffer of the adapter's receive buffer size (after StartUart);
    // false when that buffer cannot be had.
    bool StartReceiving();

    // The adapter's own UART configuration as read at StartUart; nullopt when it was not read.
    std::optional<UartConfig> SavedUartConfig() const;

    // The tear-down in steps, for a caller with work of its own in between:
    // 1. the receive thread stopped and its buffer released (the reads taken before are handed
    //    over);
    void StopReceiving();
    // 4. UART off, the saved configuration written back (unless keepSettings), handshake and
    //    close; statuses are not tested.
    void RestoreAndClose(bool keepSettings = false);
    // All of them, in that order.
    void Close(bool keepSettings = false);

    ReceiveThread& Receiver() { return m_receiveThread; }
    const ReceiveThread& Receiver() const { return m_receiveThread; }

private:
    CWendrake& m_adapter;
    // Written back only if it was read, so a failed read never pushes made-up values.
    std::optional<UartConfig> m_savedUartConfig;
    ReceiveThread m_receiveThread;
};
