// Wendrake adapters made real to the kernel: each one is a /dev/uhid device whose reports are
// answered by the firmware model, so hidraw, sysfs and the netlink monitor see a true HID device.
//
// The commands of AdapterCommandReader, plus:
//   unplug NAME               destroy the device (its firmware state stays for a replug)
//   fail NAME ID COUNT        the next COUNT requests for feature ID are refused (EIO)
//   mute NAME ID COUNT        the next COUNT get requests for feature ID are never answered
//   inject NAME HEX           bytes arriving on the adapter's UART
//   raw NAME HEX              one input report of exactly these bytes, not padded

#include "common/FileAccess.h"
#include "device/WendrakeTypes.h"
#include "emulator/AdapterCommandReader.h"
#include "emulator/AdapterFirmware.h"

#include <linux/uhid.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Device = AdapterCommandReader::Device;

// A device's side of /dev/uhid.
struct UhidLink {
    int fd = -1;
    std::map<std::uint8_t, unsigned> failures; // feature id -> requests still to refuse
    std::map<std::uint8_t, unsigned> mutes;    // feature id -> get requests still to ignore
    std::uint64_t inputReportsSent = 0;
    std::uint64_t inputReportsRefused = 0; // UHID_INPUT2 writes the kernel refused
    bool opened = false;                   // some hidraw file is open on it
};

bool writeEvent(int fd, const uhid_event& ev, std::size_t size) {
    const ssize_t n = ::write(fd, &ev, size);
    return n == static_cast<ssize_t>(size);
}

class UhidTransport : public AdapterCommandReader::Transport {
public:
    std::string Plug(Device& d) override {
        if (!createDevice(d, link(d)))
            return "error cannot create " + d.name + ": " + std::strerror(errno);
        return "ok";
    }
    bool Plugged(const Device& d) const override { return link(d).fd >= 0; }
    bool Opened(const Device& d) const override { return link(d).opened; }
    int Descriptor(const Device& d) const override { return link(d).fd; }
    void Service(Device& d) override;
    bool CanSend(const Device& d) const override { return link(d).fd >= 0; }
    void SendBurstReport(Device& d, const std::uint8_t* report) override {
        sendInputReport(link(d), report);
    }
    std::optional<std::string> BurstRefusal(const Device& d, std::uint64_t micros) const override {
        if (link(d).fd < 0 || micros == 0)
            return "error burst needs a plugged device and a pace";
        return std::nullopt;
    }
    std::optional<std::string> Command(Device& d, const std::string& verb,
                                       std::istream& in) override;
    std::string StateTail(const Device& d) const override {
        const UhidLink& l = link(d);
        std::ostringstream s;
        s << " sent=" << l.inputReportsSent << " refused=" << l.inputReportsRefused
          << " burst=" << (d.burstEnd - d.burstPosition);
        return s.str();
    }
    void Shutdown(Device& d) override { destroyDevice(d, link(d)); }

private:
    UhidLink& link(const Device& d) const { return m_links[d.name]; }
    static bool createDevice(const Device& d, UhidLink& l);
    static void destroyDevice(Device& d, UhidLink& l);
    static bool sendInputReport(UhidLink& l, const std::uint8_t* report);
    static void drainInput(Device& d, UhidLink& l);
    static void answerGetReport(Device& d, UhidLink& l, const uhid_get_report_req& req);
    static void answerSetReport(Device& d, UhidLink& l, const uhid_set_report_req& req);

    mutable std::map<std::string, UhidLink> m_links;
};

bool UhidTransport::createDevice(const Device& d, UhidLink& l) {
    l.fd = FileAccess::open("/dev/uhid", O_RDWR | O_NONBLOCK);
    if (l.fd < 0)
        return false;
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof(uhid_event));
    ev->type = UHID_CREATE2;
    uhid_create2_req& c = ev->u.create2;
    std::snprintf(reinterpret_cast<char*>(c.name), sizeof c.name, "%s", d.productName());
    std::snprintf(reinterpret_cast<char*>(c.phys), sizeof c.phys, "uhid/%s", d.name.c_str());
    std::snprintf(reinterpret_cast<char*>(c.uniq), sizeof c.uniq, "%s", d.serial.c_str());
    const std::vector<std::uint8_t> descriptor =
        d.adapter ? AdapterFirmware::ReportDescriptor() : AdapterCommandReader::OtherDescriptor();
    c.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::memcpy(c.rd_data, descriptor.data(), descriptor.size());
    c.bus = 0x03; // BUS_USB
    c.vendor = d.adapter ? WendrakeVendorId : AdapterCommandReader::OtherVendorId;
    c.product = d.adapter ? WendrakeProductId : AdapterCommandReader::OtherProductId;
    c.version = 0x0100;
    if (!writeEvent(l.fd, *ev, sizeof(uhid_event))) {
        FileAccess::close(l.fd);
        l.fd = -1;
        return false;
    }
    return true;
}

void UhidTransport::destroyDevice(Device& d, UhidLink& l) {
    if (l.fd < 0)
        return;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    writeEvent(l.fd, ev, sizeof ev.type);
    FileAccess::close(l.fd);
    l.fd = -1;
    l.opened = false;
    d.burstPosition = d.burstEnd = 0;
}

// The kernel drops input reports shorter than the descriptor declares, so every report goes out
// at its full length.
bool UhidTransport::sendInputReport(UhidLink& l, const std::uint8_t* report) {
    uhid_event ev;
    ev.type = UHID_INPUT2;
    ev.u.input2.size = AdapterFirmware::InputReportLength;
    std::memcpy(ev.u.input2.data, report, AdapterFirmware::InputReportLength);
    const std::size_t size =
        offsetof(uhid_event, u.input2.data) + AdapterFirmware::InputReportLength;
    if (!writeEvent(l.fd, ev, size)) {
        ++l.inputReportsRefused;
        return false;
    }
    ++l.inputReportsSent;
    return true;
}

void UhidTransport::drainInput(Device& d, UhidLink& l) {
    std::uint8_t slot[AdapterFirmware::InputReportLength];
    while (l.fd >= 0 && d.firmware->TakeInputReport(slot, sizeof slot))
        sendInputReport(l, slot);
}

void UhidTransport::answerGetReport(Device& d, UhidLink& l, const uhid_get_report_req& req) {
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof(uhid_event));
    ev->type = UHID_GET_REPORT_REPLY;
    uhid_get_report_reply_req& r = ev->u.get_report_reply;
    r.id = req.id;
    auto mute = l.mutes.find(req.rnum);
    if (mute != l.mutes.end() && mute->second > 0) {
        // Never answered: the kernel gives up on its own.
        --mute->second;
        return;
    }
    auto fail = l.failures.find(req.rnum);
    const std::size_t length = AdapterFirmware::FeatureLength(req.rnum);
    if (!d.adapter || req.rtype != UHID_FEATURE_REPORT || length == 0) {
        r.err = EIO;
    } else if (fail != l.failures.end() && fail->second > 0) {
        --fail->second;
        r.err = EIO;
    } else {
        // The reply carries the report id first, as a USB device's does.
        r.data[0] = req.rnum;
        if (d.firmware->GetFeature(r.data, length))
            r.size = static_cast<std::uint16_t>(length);
        else
            r.err = EIO;
    }
    writeEvent(l.fd, *ev, offsetof(uhid_event, u.get_report_reply.data) + r.size);
}

void UhidTransport::answerSetReport(Device& d, UhidLink& l, const uhid_set_report_req& req) {
    uhid_event ev{};
    ev.type = UHID_SET_REPORT_REPLY;
    ev.u.set_report_reply.id = req.id;
    auto fail = l.failures.find(req.rnum);
    if (!d.adapter || req.rtype != UHID_FEATURE_REPORT) {
        ev.u.set_report_reply.err = EIO;
    } else if (fail != l.failures.end() && fail->second > 0) {
        --fail->second;
        ev.u.set_report_reply.err = EIO;
    } else if (!d.firmware->SetFeature(req.data, req.size)) {
        ev.u.set_report_reply.err = EIO;
    }
    writeEvent(l.fd, ev,
               offsetof(uhid_event, u.set_report_reply) + sizeof(uhid_set_report_reply_req));
}

void UhidTransport::Service(Device& d) {
    UhidLink& l = link(d);
    auto ev = std::make_unique<uhid_event>();
    for (;;) {
        if (l.fd < 0)
            return;
        const ssize_t n = ::read(l.fd, ev.get(), sizeof(uhid_event));
        if (n <= 0)
            return;
        switch (ev->type) {
        case UHID_OPEN:
            l.opened = true;
            break;
        case UHID_CLOSE:
            l.opened = false;
            break;
        case UHID_OUTPUT:
            if (d.adapter && ev->u.output.rtype == UHID_OUTPUT_REPORT) {
                d.firmware->WriteOutputReport(ev->u.output.data, ev->u.output.size);
                drainInput(d, l);
            }
            break;
        case UHID_GET_REPORT:
            answerGetReport(d, l, ev->u.get_report);
            break;
        case UHID_SET_REPORT:
            answerSetReport(d, l, ev->u.set_report);
            break;
        default: // START, STOP
            break;
        }
    }
}

std::optional<std::string> UhidTransport::Command(Device& d, const std::string& verb,
                                                  std::istream& in) {
    UhidLink& l = link(d);
    AdapterFirmware& f = *d.firmware;
    if (verb == "unplug") {
        destroyDevice(d, l);
        return "ok";
    }
    if (verb == "fail" || verb == "mute") {
        unsigned id = 0, count = 0;
        in >> std::hex >> id >> std::dec >> count;
        (verb == "fail" ? l.failures : l.mutes)[static_cast<std::uint8_t>(id)] = count;
        return "ok";
    }
    if (verb == "inject") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = AdapterCommandReader::ParseHex(hex);
        f.InjectUartInput(bytes.data(), bytes.size());
        drainInput(d, l);
        return "ok";
    }
    if (verb == "raw") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = AdapterCommandReader::ParseHex(hex);
        if (l.fd < 0 || bytes.empty() || bytes.size() > UHID_DATA_MAX)
            return "error raw needs a plugged device and 1 to 4096 bytes";
        uhid_event ev;
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<std::uint16_t>(bytes.size());
        std::memcpy(ev.u.input2.data, bytes.data(), bytes.size());
        if (!writeEvent(l.fd, ev, offsetof(uhid_event, u.input2.data) + bytes.size()))
            return std::string("error ") + std::strerror(errno);
        return "ok";
    }
    return std::nullopt;
}

} // namespace

int main() {
    UhidTransport transport;
    return AdapterCommandReader(transport).Run();
}
