// Wendrake adapters made real to the kernel as USB devices: each one is attached to the kernel's
// virtual USB host controller (vhci_hcd) over a local socket and served as USB/IP, so usbhid,
// hidraw, sysfs and the netlink monitor see a true USB HID adapter, whose reports are answered by
// the firmware model. Run as root where vhci_hcd is loaded.
//
// The commands are those of the uhid adapter program (AdapterCommandReader's and the uhid
// program's own), plus:
//   hold NAME on|off          the OUT endpoint holds output reports (a UART held back by flow
//                             control); off takes the held reports in order
// inject and raw answer once the reports reached the host's queue (or after 1 s when nobody
// reads). unplug detaches the device from its port.

#include "common/FileAccess.h"
#include "device/WendrakeTypes.h"
#include "emulator/AdapterCommandReader.h"
#include "emulator/AdapterFirmware.h"
#include "emulator/UsbHidAdapter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Device = AdapterCommandReader::Device;

const std::string VhciRoot = "/sys/devices/platform/vhci_hcd.0";
constexpr unsigned FullSpeed = 2;

// A device's side of its USB/IP connection.
struct UsbipLink {
    std::unique_ptr<UsbHidAdapter> usb;
    int sock = -1;
    int port = -1;
    std::string transport; // "unix" or "tcp"
};

bool writeSysfs(const std::string& path, const std::string& text) {
    const int fd = FileAccess::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int error = errno;
    FileAccess::close(fd);
    errno = error;
    return n == static_cast<ssize_t>(text.size());
}

class UsbipTransport : public AdapterCommandReader::Transport {
public:
    std::string Plug(Device& d) override;
    bool Plugged(const Device& d) const override { return link(d).sock >= 0; }
    bool Opened(const Device& d) const override {
        const UsbipLink& l = link(d);
        return l.usb && l.usb->PendingInTransfers() > 0;
    }
    int Descriptor(const Device& d) const override { return link(d).sock; }
    void Service(Device& d) override;
    bool CanSend(const Device& d) const override { return link(d).usb != nullptr; }
    void SendBurstReport(Device& d, const std::uint8_t* report) override {
        UsbipLink& l = link(d);
        l.usb->QueueInputReport(
            std::vector<std::uint8_t>(report, report + AdapterFirmware::InputReportLength));
        flush(d, l);
    }
    std::optional<std::string> BurstRefusal(const Device& d, std::uint64_t micros) const override {
        if (!link(d).usb)
            return "error " + d.name + " is not plugged";
        if (micros == 0)
            return "error burst needs a pace";
        return std::nullopt;
    }
    std::optional<std::string> Command(Device& d, const std::string& verb,
                                       std::istream& in) override;
    std::string StateTail(const Device& d) const override;
    void Shutdown(Device& d) override {
        UsbipLink& l = link(d);
        if (l.port >= 0)
            writeSysfs(VhciRoot + "/detach", std::to_string(l.port));
        disconnect(d, l);
    }

private:
    UsbipLink& link(const Device& d) const { return m_links[d.name]; }
    int freePort() const;
    static void disconnect(Device& d, UsbipLink& l);
    static void flush(Device& d, UsbipLink& l);
    static bool receive(const Device& d, UsbipLink& l);
    bool serveUntil(Device& d, const std::function<bool()>& condition, int timeoutMs);

    mutable std::map<std::string, UsbipLink> m_links;
};

// The first free port of the high-speed hub, which also takes full-speed devices. Lines read
// "hs  0000 004 000 00000000 000000 0-0": hub, port, state (4 = free), ...
int UsbipTransport::freePort() const {
    std::ifstream status(VhciRoot + "/status");
    std::string line;
    std::set<int> ours;
    for (const auto& [name, l] : m_links)
        if (l.port >= 0)
            ours.insert(l.port);
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

void UsbipTransport::disconnect(Device& d, UsbipLink& l) {
    if (l.sock >= 0)
        ::close(l.sock);
    l.sock = -1;
    l.port = -1;
    l.usb.reset();
    d.burstPosition = d.burstEnd = 0;
}

void UsbipTransport::flush(Device& d, UsbipLink& l) {
    if (l.sock < 0 || !l.usb)
        return;
    if (!writeAll(l.sock, l.usb->TakeOutput()))
        disconnect(d, l);
}

// Reads what the kernel sent; false when the connection ended (the kernel detached the port).
bool UsbipTransport::receive(const Device& d, UsbipLink& l) {
    std::uint8_t buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(l.sock, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (!l.usb->Feed(buffer, static_cast<std::size_t>(n))) {
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

void UsbipTransport::Service(Device& d) {
    UsbipLink& l = link(d);
    if (l.sock < 0)
        return;
    if (!receive(d, l)) {
        disconnect(d, l);
        return;
    }
    flush(d, l);
}

// Serves one device's socket until the condition holds or the time is up.
bool UsbipTransport::serveUntil(Device& d, const std::function<bool()>& condition, int timeoutMs) {
    const UsbipLink& l = link(d);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (l.sock < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return condition();
        pollfd p{l.sock, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) > 0)
            Service(d);
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

std::string UsbipTransport::Plug(Device& d) {
    UsbipLink& l = link(d);
    UsbHidAdapter::Identity identity;
    identity.VendorId = d.adapter ? WendrakeVendorId : AdapterCommandReader::OtherVendorId;
    identity.ProductId = d.adapter ? WendrakeProductId : AdapterCommandReader::OtherProductId;
    identity.Product = d.productName();
    identity.Serial = d.serial;
    identity.ReportDescriptor =
        d.adapter ? AdapterFirmware::ReportDescriptor() : AdapterCommandReader::OtherDescriptor();
    l.usb = std::make_unique<UsbHidAdapter>(d.adapter ? d.firmware.get() : nullptr, identity);

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
        l.sock = fds[0];
        l.port = port;
        l.transport = tcp ? "tcp" : "unix";
        return "ok port=" + std::to_string(port) + " transport=" + l.transport;
    }
    l.usb.reset();
    return "error cannot attach " + d.name + ": " + lastError;
}

std::string UsbipTransport::StateTail(const Device& d) const {
    const UsbipLink& l = link(d);
    std::ostringstream s;
    s << " sent=" << (l.usb ? l.usb->InputReportsSent() : 0)
      << " held=" << (l.usb ? l.usb->HeldOutTransfers() : 0)
      << " unlinks=" << (l.usb ? l.usb->Unlinks() : 0)
      << " config=" << int(l.usb ? l.usb->Configuration() : 0)
      << " queued=" << (l.usb ? l.usb->QueuedInputReports() : 0)
      << " burst=" << (d.burstEnd - d.burstPosition) << " transport=" << l.transport;
    return s.str();
}

std::optional<std::string> UsbipTransport::Command(Device& d, const std::string& verb,
                                                   std::istream& in) {
    UsbipLink& l = link(d);
    AdapterFirmware& f = *d.firmware;
    if (verb == "unplug") {
        if (l.port >= 0 && !writeSysfs(VhciRoot + "/detach", std::to_string(l.port)))
            std::cerr << "usbip adapter: detach " << l.port << ": " << std::strerror(errno) << '\n';
        disconnect(d, l);
        return "ok";
    }
    if (!l.usb)
        return "error " + d.name + " is not plugged";
    if (verb == "fail" || verb == "mute") {
        unsigned id = 0, count = 0;
        in >> std::hex >> id >> std::dec >> count;
        if (verb == "fail")
            l.usb->FailFeature(static_cast<std::uint8_t>(id), count);
        else
            l.usb->MuteFeature(static_cast<std::uint8_t>(id), count);
        return "ok";
    }
    if (verb == "hold") {
        std::string on;
        in >> on;
        l.usb->SetHoldOutput(on == "on");
        flush(d, l);
        return "ok";
    }
    if (verb == "inject" || verb == "raw") {
        std::string hex;
        in >> hex;
        const std::vector<std::uint8_t> bytes = AdapterCommandReader::ParseHex(hex);
        if (verb == "inject") {
            f.InjectUartInput(bytes.data(), bytes.size());
            l.usb->Service();
        } else {
            if (bytes.empty() || bytes.size() > UsbHidAdapter::MaxPacketSize + 1u)
                return "error raw needs 1 to 65 bytes";
            l.usb->QueueInputReport(bytes);
        }
        flush(d, l);
        // The kernel asks for the next report only after it queued this one.
        const bool delivered = serveUntil(
            d, [&] { return l.usb && l.usb->InputDelivered(); }, 1000);
        return delivered ? "ok" : "ok undelivered";
    }
    return std::nullopt;
}

} // namespace

int main() {
    UsbipTransport transport;
    return AdapterCommandReader(transport).Run();
}
