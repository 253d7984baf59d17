// Wendrake adapters made real to the kernel as USB devices: each one is attached to the kernel's
// virtual USB host controller (vhci_hcd) over a local socket and served as USB/IP, so usbhid,
// hidraw, sysfs and the netlink monitor see a true USB HID adapter, whose reports are answered by
// the firmware model. Run as root where vhci_hcd is loaded.
//
// The commands are those of the uhid adapter program (one per line on standard input, each
// answered "ok ..." or "error ..." after it has been carried out), plus:
//   hold NAME on|off          the OUT endpoint holds output reports (a UART held back by flow
//                             control); off takes the held reports in order
// inject and raw answer once the reports reached the host's queue (or after 1 s when nobody
// reads). unplug detaches the device from its port.

#include "device/WendrakeTypes.h"
#include "emulator/AdapterFirmware.h"
#include "emulator/UsbHidAdapter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string VhciRoot = "/sys/devices/platform/vhci_hcd.0";
constexpr unsigned FullSpeed = 2;
constexpr std::uint16_t OtherVendorId = 0x1234;
constexpr std::uint16_t OtherProductId = 0x5678;

// The same non-adapter device the uhid program makes: one 8-byte input report, no report ids.
const std::vector<std::uint8_t> OtherDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
    0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0xC0,
};

struct Device {
    std::string name;
    std::string serial;
    bool adapter = true;
    std::unique_ptr<AdapterFirmware> firmware;
    std::unique_ptr<UsbHidAdapter> usb;
    int sock = -1;
    int port = -1;
    int timer = -1;
    std::uint64_t burstPosition = 0;
    std::uint64_t burstEnd = 0;
    std::string transport; // "unix" or "tcp"
};

std::map<std::string, Device> devices;

bool writeSysfs(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    errno = error;
    return n == static_cast<ssize_t>(text.size());
}

// The first free port of the high-speed hub, which also takes full-speed devices. Lines read
// "hs  0000 004 000 00000000 000000 0-0": hub, port, state (4 = free), ...
int freePort() {
    std::ifstream status(VhciRoot + "/status");
    std::string line;
    std::set<int> ours;
    for (const auto& [name, d] : devices)
        if (d.port >= 0)
            ours.insert(d.port);
    while (std::getline(status, line)) {
        std::istringstream in(line);
        std::string hub;
        int port = -1;
        int state = -1;
        if (!(in >> hub >> port >> state) || hub != "hs")
            continue;
        if (state == 4 && !ours.count(port))
            return port;
    }
    return -1;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void disconnect(Device& d) {
    if (d.sock >= 0)
        ::close(d.sock);
    d.sock = -1;
    d.port = -1;
    d.usb.reset();
    d.burstPosition = d.burstEnd = 0;
}

void flush(Device& d) {
    if (d.sock < 0 || !d.usb)
        return;
    if (!writeAll(d.sock, d.usb->TakeOutput()))
        disconnect(d);
}

// Reads what the kernel sent; false when the connection ended (the kernel detached the port).
bool receive(Device& d) {
    std::uint8_t buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(d.sock, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (!d.usb->Feed(buffer, static_cast<std::size_t>(n))) {
                std::cerr << "usbip adapter: broken stream from the host on " << d.name << '\n';
                return false;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

void serviceSocket(Device& d) {
    if (d.sock < 0)
        return;
    if (!receive(d)) {
        disconnect(d);
        return;
    }
    flush(d);
}

// Serves one device's socket until the condition holds or the time is up.
bool serveUntil(Device& d, const std::function<bool()>& condition, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (d.sock < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return condition();
        pollfd p{d.sock, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) > 0)
            serviceSocket(d);
    }
    return true;
}

// A connected stream socket pair: ours and the one handed to the kernel. A local socket pair
// first; TCP on the loopback address if the kernel wants a TCP socket.
bool socketPair(int fds[2], bool tcp) {
    if (!tcp)
        return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bool ok = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(listener, 1) == 0 &&
              ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    fds[0] = fds[1] = -1;
    if (ok) {
        fds[1] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok = fds[1] >= 0 &&
             ::connect(fds[1], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (ok) {
        fds[0] = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ok = fds[0] >= 0;
    }
    ::close(listener);
    if (!ok) {
        if (fds[0] >= 0)
            ::close(fds[0]);
        if (fds[1] >= 0)
            ::close(fds[1]);
        return false;
    }
    const int one = 1;
    ::setsockopt(fds[0], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

std::string attach(Device& d) {
    UsbHidAdapter::Identity identity;
    identity.VendorId = d.adapter ? WendrakeVendorId : OtherVendorId;
    identity.ProductId = d.adapter ? WendrakeProductId : OtherProductId;
    identity.Product = d.adapter ? "Wendrake USB adapter" : "Wendrake test other device";
    identity.Serial = d.serial;
    identity.ReportDescriptor = d.adapter ? AdapterFirmware::ReportDescriptor() : OtherDescriptor;
    d.usb = std::make_unique<UsbHidAdapter>(d.adapter ? d.firmware.get() : nullptr, identity);

    const int port = freePort();
    if (port < 0)
        return "error no free port on " + VhciRoot;
    std::string lastError = "no socket";
    for (const bool tcp : {false, true}) {
        int fds[2];
        if (!socketPair(fds, tcp)) {
            lastError = std::strerror(errno);
            continue;
        }
        const std::uint32_t devid = (1u << 16) | static_cast<std::uint32_t>(port + 2);
        const std::string request = std::to_string(port) + " " + std::to_string(fds[1]) + " " +
                                    std::to_string(devid) + " " + std::to_string(FullSpeed);
        const bool attached = writeSysfs(VhciRoot + "/attach", request);
        lastError = std::strerror(errno);
        // The kernel holds its own reference to the socket from now on.
        ::close(fds[1]);
        if (!attached) {
            ::close(fds[0]);
            continue;
        }
        d.sock = fds[0];
        d.port = port;
        d.transport = tcp ? "tcp" : "unix";
        return "ok port=" + std::to_string(port) + " transport=" + d.transport;
    }
    d.usb.reset();
    return "error cannot attach " + d.name + ": " + lastError;
}

std::vector<std::uint8_t> parseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

void burstTick(Device& d) {
    if (d.burstPosition < d.burstEnd && d.usb) {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(AdapterFirmware::MaxChunkBytes, d.burstEnd - d.burstPosition));
        std::vector<std::uint8_t> report(AdapterFirmware::InputReportLength, 0);
        report[0] = static_cast<std::uint8_t>(AdapterFirmware::UartReportBase + n);
        for (std::size_t i = 0; i < n; ++i)
            report[1 + i] = static_cast<std::uint8_t>((d.burstPosition + i) % 251);
        d.usb->QueueInputReport(std::move(report));
        d.burstPosition += n;
        flush(d);
    }
    if (d.burstPosition >= d.burstEnd) {
        itimerspec off{};
        timerfd_settime(d.timer, 0, &off, nullptr);
    }
}

std::string stateLine(const Device& d) {
    const AdapterFirmware& f = *d.firmware;
    const AdapterFirmware::UartSettings u = f.Uart();
    const AdapterFirmware::PinSettings p = f.Pins();
    std::ostringstream s;
    s << "ok plugged=" << (d.sock >= 0) << " opened=" << (d.usb && d.usb->PendingInTransfers() > 0)
      << " enabled=" << f.UartEnabled() << " baud=" << u.BaudRate << " parity=" << int(u.Parity)
      << " flow=" << int(u.FlowControl) << " databits=" << int(u.DataBits)
      << " stopbits=" << int(u.StopBits) << " pins=" << int(p.Gpio0Mode) << ',' << int(p.Gpio1Mode)
      << ',' << int(p.TxMode) << ',' << int(p.FourthPinMode) << " latch=" << int(f.Latch())
      << " mode=" << int(f.ModeState()) << " purges=";
    const std::vector<std::uint8_t> purges = f.PurgeCodes();
    for (std::size_t i = 0; i < purges.size(); ++i)
        s << (i ? "," : "") << int(purges[i]);
    if (purges.empty())
        s << '-';
    s << " bytesout=" << f.UartBytesOut() << " bytesin=" << f.UartBytesIn()
      << " ignored=" << f.IgnoredOutputReports()
      << " sent=" << (d.usb ? d.usb->InputReportsSent() : 0)
      << " held=" << (d.usb ? d.usb->HeldOutTransfers() : 0)
      << " unlinks=" << (d.usb ? d.usb->Unlinks() : 0)
      << " config=" << int(d.usb ? d.usb->Configuration() : 0)
      << " queued=" << (d.usb ? d.usb->QueuedInputReports() : 0)
      << " burst=" << (d.burstEnd - d.burstPosition) << " transport=" << d.transport;
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
        if (d.sock >= 0)
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
        return attach(d);
    }
    auto it = devices.find(name);
    if (it == devices.end())
        return "error no device " + name;
    Device& d = it->second;
    AdapterFirmware& f = *d.firmware;
    if (verb == "unplug") {
        if (d.port >= 0 && !writeSysfs(VhciRoot + "/detach", std::to_string(d.port)))
            std::cerr << "usbip adapter: detach " << d.port << ": " << std::strerror(errno) << '\n';
        disconnect(d);
        return "ok";
    }
    if (verb == "state")
        return stateLine(d);
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
    if (verb == "fifo") {
        unsigned tx = 0, rx = 0;
        in >> tx >> rx;
        f.SetFifoCounts(static_cast<std::uint16_t>(tx), static_cast<std::uint16_t>(rx));
        return "ok";
    }
    if (!d.usb)
        return "error " + name + " is not plugged";
    if (verb == "fail" || verb == "mute") {
        unsigned id = 0, count = 0;
        in >> std::hex >> id >> std::dec >> count;
        if (verb == "fail")
            d.usb->FailFeature(static_cast<std::uint8_t>(id), count);
        else
            d.usb->MuteFeature(static_cast<std::uint8_t>(id), count);
        return "ok";
    }
    if (verb == "hold") {
        std::string on;
        in >> on;
        d.usb->SetHoldOutput(on == "on");
        flush(d);
        return "ok";
    }
    if (verb == "inject" || verb == "raw") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = parseHex(hex);
        if (verb == "inject") {
            f.InjectUartInput(bytes.data(), bytes.size());
            d.usb->Service();
        } else {
            if (bytes.empty() || bytes.size() > UsbHidAdapter::MaxPacketSize + 1u)
                return "error raw needs 1 to 65 bytes";
            d.usb->QueueInputReport(bytes);
        }
        flush(d);
        // The kernel asks for the next report only after it queued this one.
        const bool delivered = serveUntil(
            d, [&] { return d.usb && d.usb->InputDelivered(); }, 1000);
        return delivered ? "ok" : "ok undelivered";
    }
    if (verb == "burst") {
        std::uint64_t bytes = 0, micros = 0;
        in >> bytes >> micros;
        if (micros == 0)
            return "error burst needs a pace";
        d.burstPosition = 0;
        d.burstEnd = bytes;
        itimerspec pace{};
        pace.it_interval.tv_sec = static_cast<time_t>(micros / 1000000);
        pace.it_interval.tv_nsec = static_cast<long>(micros % 1000000 * 1000);
        pace.it_value = pace.it_interval;
        timerfd_settime(d.timer, 0, &pace, nullptr);
        return "ok";
    }
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
            if (d.sock >= 0) {
                fds.push_back({d.sock, POLLIN, 0});
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
                serviceSocket(*owners[i]);
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
        if (d.port >= 0)
            writeSysfs(VhciRoot + "/detach", std::to_string(d.port));
        disconnect(d);
        if (d.timer >= 0)
            ::close(d.timer);
    }
    return 0;
}
