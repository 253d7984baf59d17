// Wendrake adapters made real to the kernel: each one is a /dev/uhid device whose reports are
// answered by the firmware model, so hidraw, sysfs and the netlink monitor see a true HID device.
//
// Commands, one per line on standard input; each is answered by one line on standard output,
// "ok ..." or "error ...", after it has been carried out:
//   plug NAME SERIAL          create an adapter (a replug of a known NAME power-cycles it)
//   other NAME                create a HID device that is not an adapter
//   unplug NAME               destroy the device (its firmware state stays for a replug)
//   loopback NAME on|off      UART output comes back as input
//   modes NAME A B ...        answers for the next mode requests (0x42)
//   fail NAME ID COUNT        the next COUNT requests for feature ID are refused (EIO)
//   mute NAME ID COUNT        the next COUNT get requests for feature ID are never answered
//   fifo NAME TX RX           FIFO counts answered by 0x47
//   inject NAME HEX           bytes arriving on the adapter's UART
//   raw NAME HEX              one input report of exactly these bytes, not padded
//   burst NAME BYTES MICROS   BYTES pattern bytes (byte k = k mod 251) arrive on the UART,
//                             one input report every MICROS microseconds
//   state NAME                "ok key=value ..." of the firmware's state
//   quit
// End of input unplugs everything and ends the program.

#include "device/WendrakeTypes.h"
#include "emulator/AdapterFirmware.h"

#include <linux/uhid.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t OtherVendorId = 0x1234;
constexpr std::uint16_t OtherProductId = 0x5678;

// A vendor-page device with one 8-byte input report and no report ids: not an adapter.
const std::vector<std::uint8_t> OtherDescriptor = {
    0x06, 0x00, 0xFF, // usage page (vendor 0xFF00)
    0x09, 0x01,       // usage 1
    0xA1, 0x01,       // collection (application)
    0x15, 0x00,       //   logical minimum 0
    0x26, 0xFF, 0x00, //   logical maximum 255
    0x75, 0x08,       //   report size 8
    0x95, 0x08,       //   report count 8
    0x09, 0x01,       //   usage 1
    0x81, 0x02,       //   input (data, variable, absolute)
    0xC0,             // end collection
};

struct Device {
    std::string name;
    std::string serial;
    bool adapter = true;
    int fd = -1;
    int timer = -1; // paces a burst
    std::unique_ptr<AdapterFirmware> firmware;
    std::map<std::uint8_t, unsigned> failures; // feature id -> requests still to refuse
    std::map<std::uint8_t, unsigned> mutes;    // feature id -> get requests still to ignore
    std::uint64_t burstPosition = 0;           // next pattern byte of a running burst
    std::uint64_t burstEnd = 0;
    std::uint64_t inputReportsSent = 0;
    std::uint64_t inputReportsRefused = 0; // UHID_INPUT2 writes the kernel refused
    bool opened = false;                   // some hidraw file is open on it
};

std::map<std::string, Device> devices;

bool writeEvent(int fd, const uhid_event& ev, std::size_t size) {
    const ssize_t n = ::write(fd, &ev, size);
    return n == static_cast<ssize_t>(size);
}

bool createDevice(Device& d) {
    d.fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (d.fd < 0)
        return false;
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof(uhid_event));
    ev->type = UHID_CREATE2;
    uhid_create2_req& c = ev->u.create2;
    const std::string name = d.adapter ? "Wendrake USB adapter" : "Wendrake test other device";
    std::snprintf(reinterpret_cast<char*>(c.name), sizeof c.name, "%s", name.c_str());
    std::snprintf(reinterpret_cast<char*>(c.phys), sizeof c.phys, "uhid/%s", d.name.c_str());
    std::snprintf(reinterpret_cast<char*>(c.uniq), sizeof c.uniq, "%s", d.serial.c_str());
    const std::vector<std::uint8_t> descriptor =
        d.adapter ? AdapterFirmware::ReportDescriptor() : OtherDescriptor;
    c.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::memcpy(c.rd_data, descriptor.data(), descriptor.size());
    c.bus = 0x03; // BUS_USB
    c.vendor = d.adapter ? WendrakeVendorId : OtherVendorId;
    c.product = d.adapter ? WendrakeProductId : OtherProductId;
    c.version = 0x0100;
    if (!writeEvent(d.fd, *ev, sizeof(uhid_event))) {
        ::close(d.fd);
        d.fd = -1;
        return false;
    }
    return true;
}

void destroyDevice(Device& d) {
    if (d.fd < 0)
        return;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    writeEvent(d.fd, ev, sizeof ev.type);
    ::close(d.fd);
    d.fd = -1;
    d.opened = false;
    d.burstPosition = d.burstEnd = 0;
}

// The kernel drops input reports shorter than the descriptor declares, so every report goes out
// at its full length.
bool sendInputReport(Device& d, const std::uint8_t* report) {
    uhid_event ev;
    ev.type = UHID_INPUT2;
    ev.u.input2.size = AdapterFirmware::InputReportLength;
    std::memcpy(ev.u.input2.data, report, AdapterFirmware::InputReportLength);
    const std::size_t size =
        offsetof(uhid_event, u.input2.data) + AdapterFirmware::InputReportLength;
    if (!writeEvent(d.fd, ev, size)) {
        ++d.inputReportsRefused;
        return false;
    }
    ++d.inputReportsSent;
    return true;
}

void drainInput(Device& d) {
    std::uint8_t slot[AdapterFirmware::InputReportLength];
    while (d.fd >= 0 && d.firmware->TakeInputReport(slot, sizeof slot))
        sendInputReport(d, slot);
}

void fillPattern(std::uint8_t* out, std::uint64_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>((from + i) % 251);
}

// One report per timer tick, however many ticks went by: a USB device sends at most one report
// per polling interval and never catches up, so a guest that was not scheduled for a while does
// not turn the burst into a flood.
void burstTick(Device& d) {
    std::uint8_t report[AdapterFirmware::InputReportLength];
    if (d.burstPosition < d.burstEnd && d.fd >= 0) {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(AdapterFirmware::MaxChunkBytes, d.burstEnd - d.burstPosition));
        std::memset(report, 0, sizeof report);
        report[0] = static_cast<std::uint8_t>(AdapterFirmware::UartReportBase + n);
        fillPattern(report + 1, d.burstPosition, n);
        sendInputReport(d, report);
        d.burstPosition += n;
    }
    if (d.burstPosition >= d.burstEnd) {
        itimerspec off{};
        timerfd_settime(d.timer, 0, &off, nullptr);
    }
}

void answerGetReport(Device& d, const uhid_get_report_req& req) {
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof(uhid_event));
    ev->type = UHID_GET_REPORT_REPLY;
    uhid_get_report_reply_req& r = ev->u.get_report_reply;
    r.id = req.id;
    auto mute = d.mutes.find(req.rnum);
    if (mute != d.mutes.end() && mute->second > 0) {
        // Never answered: the kernel gives up on its own.
        --mute->second;
        return;
    }
    auto fail = d.failures.find(req.rnum);
    const std::size_t length = AdapterFirmware::FeatureLength(req.rnum);
    if (!d.adapter || req.rtype != UHID_FEATURE_REPORT || length == 0) {
        r.err = EIO;
    } else if (fail != d.failures.end() && fail->second > 0) {
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
    writeEvent(d.fd, *ev, offsetof(uhid_event, u.get_report_reply.data) + r.size);
}

void answerSetReport(Device& d, const uhid_set_report_req& req) {
    uhid_event ev{};
    ev.type = UHID_SET_REPORT_REPLY;
    ev.u.set_report_reply.id = req.id;
    auto fail = d.failures.find(req.rnum);
    if (!d.adapter || req.rtype != UHID_FEATURE_REPORT) {
        ev.u.set_report_reply.err = EIO;
    } else if (fail != d.failures.end() && fail->second > 0) {
        --fail->second;
        ev.u.set_report_reply.err = EIO;
    } else if (!d.firmware->SetFeature(req.data, req.size)) {
        ev.u.set_report_reply.err = EIO;
    }
    writeEvent(d.fd, ev,
               offsetof(uhid_event, u.set_report_reply) + sizeof(uhid_set_report_reply_req));
}

void serviceDevice(Device& d) {
    auto ev = std::make_unique<uhid_event>();
    for (;;) {
        if (d.fd < 0)
            return;
        const ssize_t n = ::read(d.fd, ev.get(), sizeof(uhid_event));
        if (n <= 0)
            return;
        switch (ev->type) {
        case UHID_OPEN:
            d.opened = true;
            break;
        case UHID_CLOSE:
            d.opened = false;
            break;
        case UHID_OUTPUT:
            if (d.adapter && ev->u.output.rtype == UHID_OUTPUT_REPORT) {
                d.firmware->WriteOutputReport(ev->u.output.data, ev->u.output.size);
                drainInput(d);
            }
            break;
        case UHID_GET_REPORT:
            answerGetReport(d, ev->u.get_report);
            break;
        case UHID_SET_REPORT:
            answerSetReport(d, ev->u.set_report);
            break;
        default: // START, STOP
            break;
        }
    }
}

std::vector<std::uint8_t> parseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string stateLine(const Device& d) {
    const AdapterFirmware& f = *d.firmware;
    const AdapterFirmware::UartSettings u = f.Uart();
    const AdapterFirmware::PinSettings p = f.Pins();
    std::ostringstream s;
    s << "ok plugged=" << (d.fd >= 0) << " opened=" << d.opened << " enabled=" << f.UartEnabled()
      << " baud=" << u.BaudRate << " parity=" << int(u.Parity) << " flow=" << int(u.FlowControl)
      << " databits=" << int(u.DataBits) << " stopbits=" << int(u.StopBits)
      << " pins=" << int(p.Gpio0Mode) << ',' << int(p.Gpio1Mode) << ',' << int(p.TxMode) << ','
      << int(p.FourthPinMode) << " latch=" << int(f.Latch()) << " mode=" << int(f.ModeState())
      << " purges=";
    const std::vector<std::uint8_t> purges = f.PurgeCodes();
    for (std::size_t i = 0; i < purges.size(); ++i)
        s << (i ? "," : "") << int(purges[i]);
    if (purges.empty())
        s << '-';
    s << " bytesout=" << f.UartBytesOut() << " bytesin=" << f.UartBytesIn()
      << " ignored=" << f.IgnoredOutputReports() << " sent=" << d.inputReportsSent
      << " refused=" << d.inputReportsRefused << " burst=" << (d.burstEnd - d.burstPosition);
    return s.str();
}

std::string runCommand(const std::string& line, bool& quit) {
    std::istringstream in(line);
    std::string verb, name;
    in >> verb >> name;
    if (verb == "quit") {
        quit = true;
        return "ok";
    }
    if (verb == "plug" || verb == "other") {
        auto [it, fresh] = devices.try_emplace(name);
        Device& d = it->second;
        if (d.fd >= 0)
            return "error " + name + " is plugged";
        if (fresh) {
            d.name = name;
            d.adapter = verb == "plug";
            d.firmware = std::make_unique<AdapterFirmware>();
            d.firmware->SetRecordUartOutput(false);
            d.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        } else {
            d.firmware->PowerCycle();
        }
        if (verb == "plug")
            in >> d.serial;
        else
            d.serial = "other-" + name;
        if (!createDevice(d))
            return "error cannot create " + name + ": " + std::strerror(errno);
        return "ok";
    }
    auto it = devices.find(name);
    if (it == devices.end())
        return "error no device " + name;
    Device& d = it->second;
    AdapterFirmware& f = *d.firmware;
    if (verb == "unplug") {
        destroyDevice(d);
        return "ok";
    }
    if (verb == "loopback") {
        std::string on;
        in >> on;
        f.SetLoopback(on == "on");
        return "ok";
    }
    if (verb == "modes") {
        unsigned v;
        while (in >> v)
            f.QueueModeAnswer(static_cast<std::uint8_t>(v));
        return "ok";
    }
    if (verb == "fail" || verb == "mute") {
        unsigned id = 0, count = 0;
        in >> std::hex >> id >> std::dec >> count;
        (verb == "fail" ? d.failures : d.mutes)[static_cast<std::uint8_t>(id)] = count;
        return "ok";
    }
    if (verb == "fifo") {
        unsigned tx = 0, rx = 0;
        in >> tx >> rx;
        f.SetFifoCounts(static_cast<std::uint16_t>(tx), static_cast<std::uint16_t>(rx));
        return "ok";
    }
    if (verb == "inject") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = parseHex(hex);
        f.InjectUartInput(bytes.data(), bytes.size());
        drainInput(d);
        return "ok";
    }
    if (verb == "raw") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = parseHex(hex);
        if (d.fd < 0 || bytes.empty() || bytes.size() > UHID_DATA_MAX)
            return "error raw needs a plugged device and 1 to 4096 bytes";
        uhid_event ev;
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<std::uint16_t>(bytes.size());
        std::memcpy(ev.u.input2.data, bytes.data(), bytes.size());
        if (!writeEvent(d.fd, ev, offsetof(uhid_event, u.input2.data) + bytes.size()))
            return std::string("error ") + std::strerror(errno);
        return "ok";
    }
    if (verb == "burst") {
        std::uint64_t bytes = 0, micros = 0;
        in >> bytes >> micros;
        if (d.fd < 0 || micros == 0)
            return "error burst needs a plugged device and a pace";
        d.burstPosition = 0;
        d.burstEnd = bytes;
        itimerspec pace{};
        pace.it_interval.tv_sec = static_cast<time_t>(micros / 1000000);
        pace.it_interval.tv_nsec = static_cast<long>(micros % 1000000 * 1000);
        pace.it_value = pace.it_interval;
        timerfd_settime(d.timer, 0, &pace, nullptr);
        return "ok";
    }
    if (verb == "state")
        return stateLine(d);
    return "error unknown command " + verb;
}

} // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    std::string pendingInput;
    bool quit = false;
    bool inputOpen = true;
    while (!quit && inputOpen) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        std::vector<Device*> owners{nullptr};
        std::vector<bool> isTimer{false};
        for (auto& [name, d] : devices) {
            if (d.fd >= 0) {
                fds.push_back({d.fd, POLLIN, 0});
                owners.push_back(&d);
                isTimer.push_back(false);
            }
            if (d.timer >= 0 && d.burstPosition < d.burstEnd) {
                fds.push_back({d.timer, POLLIN, 0});
                owners.push_back(&d);
                isTimer.push_back(true);
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            if (isTimer[i]) {
                std::uint64_t ticks = 0;
                if (::read(fds[i].fd, &ticks, sizeof ticks) == sizeof ticks)
                    burstTick(*owners[i]);
            } else {
                serviceDevice(*owners[i]);
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                inputOpen = false;
                continue;
            }
            pendingInput.append(buffer, static_cast<std::size_t>(n));
            std::size_t eol;
            while (!quit && (eol = pendingInput.find('\n')) != std::string::npos) {
                const std::string line = pendingInput.substr(0, eol);
                pendingInput.erase(0, eol + 1);
                if (line.empty())
                    continue;
                std::cout << runCommand(line, quit) << '\n' << std::flush;
            }
        }
    }
    for (auto& [name, d] : devices) {
        destroyDevice(d);
        if (d.timer >= 0)
            ::close(d.timer);
    }
    return 0;
}
