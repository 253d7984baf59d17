#include "emulator/UsbipHeader.h"

namespace {

std::uint32_t readBig(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

void writeBig(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

} // namespace

std::optional<UsbipHeader> UsbipHeader::parse(const std::uint8_t* bytes, std::size_t length) {
    if (!bytes || length < Size)
        return std::nullopt;
    UsbipHeader h;
    h.command = readBig(bytes);
    if (h.command < CmdSubmit || h.command > RetUnlink)
        return std::nullopt;
    h.seqnum = readBig(bytes + 4);
    h.devid = readBig(bytes + 8);
    h.direction = readBig(bytes + 12);
    h.ep = readBig(bytes + 16);
    for (std::size_t i = 0; i < h.words.size(); ++i)
        h.words[i] = readBig(bytes + 20 + 4 * i);
    for (std::size_t i = 0; i < h.setup.size(); ++i)
        h.setup[i] = bytes[40 + i];
    return h;
}

std::array<std::uint8_t, UsbipHeader::Size> UsbipHeader::serialize() const {
    std::array<std::uint8_t, Size> out{};
    writeBig(out.data(), command);
    writeBig(out.data() + 4, seqnum);
    writeBig(out.data() + 8, devid);
    writeBig(out.data() + 12, direction);
    writeBig(out.data() + 16, ep);
    for (std::size_t i = 0; i < words.size(); ++i)
        writeBig(out.data() + 20 + 4 * i, words[i]);
    for (std::size_t i = 0; i < setup.size(); ++i)
        out[40 + i] = setup[i];
    return out;
}

UsbipHeader UsbipHeader::retSubmit(const UsbipHeader& submit, std::int32_t status,
                                   std::uint32_t actualLength) {
    UsbipHeader h;
    h.command = RetSubmit;
    h.seqnum = submit.seqnum;
    h.words[0] = static_cast<std::uint32_t>(status);
    h.words[1] = actualLength;
    h.words[2] = 0;               // start frame
    h.words[3] = submit.words[3]; // ISO packets, as submitted
    h.words[4] = 0;               // error count
    return h;
}

UsbipHeader UsbipHeader::retUnlink(const UsbipHeader& unlink, std::int32_t status) {
    UsbipHeader h;
    h.command = RetUnlink;
    h.seqnum = unlink.seqnum;
    h.words[0] = static_cast<std::uint32_t>(status);
    return h;
}
