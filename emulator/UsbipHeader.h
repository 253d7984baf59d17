#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// One 48-byte USB/IP message header as the kernel's virtual host controller exchanges it over its
// socket: a basic part (command, sequence number, device id, direction, endpoint) and a
// command-specific part, every field a big-endian 32-bit word except the 8 setup bytes, which
// travel as on the USB wire.
struct UsbipHeader {
    static constexpr std::size_t Size = 48;

    enum Command : std::uint32_t {
        CmdSubmit = 1,
        CmdUnlink = 2,
        RetSubmit = 3,
        RetUnlink = 4,
    };
    // Direction as the header carries it.
    static constexpr std::uint32_t DirOut = 0;
    static constexpr std::uint32_t DirIn = 1;

    std::uint32_t command = 0;
    std::uint32_t seqnum = 0;
    std::uint32_t devid = 0;
    std::uint32_t direction = 0;
    std::uint32_t ep = 0;

    // CMD_SUBMIT: transfer flags, buffer length, start frame, ISO packets, interval, setup.
    // RET_SUBMIT: status, actual length, start frame, ISO packets, error count.
    // CMD_UNLINK: the sequence number to unlink (in the first word). RET_UNLINK: status.
    std::array<std::uint32_t, 5> words{};
    std::array<std::uint8_t, 8> setup{};

    std::uint32_t transferFlags() const { return words[0]; }
    std::int32_t transferLength() const { return static_cast<std::int32_t>(words[1]); }
    std::uint32_t unlinkSeqnum() const { return words[0]; }
    std::int32_t status() const { return static_cast<std::int32_t>(words[0]); }
    std::int32_t actualLength() const { return static_cast<std::int32_t>(words[1]); }

    // Reads a header; nullopt for fewer than Size bytes or an unknown command.
    static std::optional<UsbipHeader> parse(const std::uint8_t* bytes, std::size_t length);
    std::array<std::uint8_t, Size> serialize() const;

    // The answer to a CMD_SUBMIT: same sequence number, basic fields otherwise 0 as the host side
    // sends them, the ISO packet count echoed.
    static UsbipHeader retSubmit(const UsbipHeader& submit, std::int32_t status,
                                 std::uint32_t actualLength);
    // The answer to a CMD_UNLINK, carrying the unlink's own sequence number.
    static UsbipHeader retUnlink(const UsbipHeader& unlink, std::int32_t status);
};
