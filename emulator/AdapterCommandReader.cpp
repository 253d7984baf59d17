#include "emulator/AdapterCommandReader.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <sstream>

const std::vector<std::uint8_t>& AdapterCommandReader::OtherDescriptor() {
    static const std::vector<std::uint8_t> descriptor = {
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
    return descriptor;
}

std::vector<std::uint8_t> AdapterCommandReader::ParseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

void AdapterCommandReader::FillPattern(std::uint8_t* out, std::uint64_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>((from + i) % 251);
}

void AdapterCommandReader::startBurst(Device& device, std::uint64_t bytes, std::uint64_t micros) {
    device.burstPosition = 0;
    device.burstEnd = bytes;
    itimerspec pace{};
    pace.it_interval.tv_sec = static_cast<time_t>(micros / 1000000);
    pace.it_interval.tv_nsec = static_cast<long>(micros % 1000000 * 1000);
    pace.it_value = pace.it_interval;
    timerfd_settime(device.timer, 0, &pace, nullptr);
}

// One report per timer tick, however many ticks went by: a USB device sends at most one report
// per polling interval and never catches up, so a guest that was not scheduled for a while does
// not turn the burst into a flood.
void AdapterCommandReader::burstTick(Device& device) {
    if (device.burstPosition < device.burstEnd && m_transport.CanSend(device)) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
            AdapterFirmware::MaxChunkBytes, device.burstEnd - device.burstPosition));
        std::uint8_t report[AdapterFirmware::InputReportLength] = {};
        report[0] = static_cast<std::uint8_t>(AdapterFirmware::UartReportBase + n);
        FillPattern(report + 1, device.burstPosition, n);
        device.burstPosition += n;
        // Last: sending may find the device gone, which ends the burst.
        m_transport.SendBurstReport(device, report);
    }
    if (device.burstPosition >= device.burstEnd) {
        itimerspec off{};
        timerfd_settime(device.timer, 0, &off, nullptr);
    }
}

std::string AdapterCommandReader::stateLine(const Device& device) const {
    const AdapterFirmware& f = *device.firmware;
    const AdapterFirmware::UartSettings u = f.Uart();
    const AdapterFirmware::PinSettings p = f.Pins();
    std::ostringstream s;
    s << "ok plugged=" << m_transport.Plugged(device) << " opened=" << m_transport.Opened(device)
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
      << " ignored=" << f.IgnoredOutputReports() << m_transport.StateTail(device);
    return s.str();
}

std::string AdapterCommandReader::runCommand(const std::string& line, bool& quit) {
    std::istringstream in(line);
    std::string verb, name;
    in >> verb >> name;
    if (verb == "quit") {
        quit = true;
        return "ok";
    }
    if (verb == "plug" || verb == "other") {
        auto [it, fresh] = m_devices.try_emplace(name);
        Device& d = it->second;
        if (m_transport.Plugged(d))
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
        return m_transport.Plug(d);
    }
    auto it = m_devices.find(name);
    if (it == m_devices.end())
        return "error no device " + name;
    Device& d = it->second;
    AdapterFirmware& f = *d.firmware;
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
    if (verb == "burst") {
        std::uint64_t bytes = 0, micros = 0;
        in >> bytes >> micros;
        if (const auto refusal = m_transport.BurstRefusal(d, micros))
            return *refusal;
        startBurst(d, bytes, micros);
        return "ok";
    }
    if (auto answer = m_transport.Command(d, verb, in))
        return *answer;
    return "error unknown command " + verb;
}

int AdapterCommandReader::Run() {
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    std::string pendingInput;
    bool quit = false;
    bool inputOpen = true;
    while (!quit && inputOpen) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        std::vector<Device*> owners{nullptr};
        std::vector<bool> isTimer{false};
        for (auto& [name, d] : m_devices) {
            if (m_transport.Plugged(d)) {
                fds.push_back({m_transport.Descriptor(d), POLLIN, 0});
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
                m_transport.Service(*owners[i]);
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
    for (auto& [name, d] : m_devices) {
        m_transport.Shutdown(d);
        if (d.timer >= 0)
            ::close(d.timer);
    }
    return 0;
}
