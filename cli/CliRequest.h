#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// What one run of wendrake was asked to do, as the command line said it.
struct CliRequest {
    enum class StopBits { One, OneAndHalf, Two };
    enum class Purge { Tx, Rx, Both };

    QString Command; // list, config, pins, fifo, send, recv, bridge
    QString Serial;  // -s; empty: the one adapter attached
    bool Demo = false;
    bool Keep = false;
    bool Json = false;

    // config, send, recv: the UART settings to apply; what is not given stays as the adapter has
    // it.
    std::optional<std::uint32_t> Baud;
    std::optional<std::uint8_t> Parity;
    std::optional<std::uint8_t> DataBits;
    std::optional<StopBits> Stop;
    std::optional<std::uint8_t> Flow;

    // pins: latch bit and level, in the order given.
    std::vector<std::pair<std::uint8_t, bool>> PinSets;
    // fifo
    std::optional<Purge> PurgeFifo;
    // send: a file, or empty or "-" for standard input.
    QString InputFile;
    // recv
    std::optional<double> TimeoutSeconds;
    std::optional<std::uint64_t> Count;
    QString OutputFile; // empty: standard output
    // bridge
    QString LinkPath; // empty: $XDG_RUNTIME_DIR/wendrake/tty-SERIAL
    bool Rfc2217 = false;
    QString Rfc2217Address; // as given, empty: the loopback address
    std::uint16_t Rfc2217Port = 0;
    bool KeepUnread = false;
    bool Once = false;
    std::optional<std::uint8_t> RtsPin; // latch bit, 0 for none
    std::optional<std::uint8_t> DtrPin;

    bool ChangesUart() const { return Baud || Parity || DataBits || Stop || Flow; }
};
