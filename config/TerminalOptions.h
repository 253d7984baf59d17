#pragma once

#include <cstdint>

// What a typed send in ASCII Format adds after the box's text.
enum class LineEnding : std::uint8_t { None, Cr, Lf, CrLf };

// The view and send options beyond the settings record, kept in a file of their own. The
// defaults are the terminal's plain behaviour.
struct TerminalOptions {
    // Each arriving read puts the caret at the end and scrolls there.
    bool FollowNewData = true;
    // While following: a held selection or a view scrolled up away from the end holds it.
    bool HoldWhileReading = false;
    // Local arrival time of each line's first byte beside the line (display only).
    bool ShowTimestamps = false;
    // Hex Format as rows of offset, 16 bytes and their printable characters.
    bool HexDumpLayout = false;
    LineEnding SendLineEnding = LineEnding::None;
    // Connect again when the adapter that was lost comes back (same serial).
    bool AutoReconnect = false;

    bool operator==(const TerminalOptions&) const = default;
};
