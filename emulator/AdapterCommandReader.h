#pragma once

#include "emulator/AdapterFirmware.h"

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the two programs that make adapters real to the kernel (over uhid, and as USB devices
// over USB/IP) share: the commands read one per line on standard input, each answered by one
// line on standard output, "ok ..." or "error ...", after it has been carried out; the devices
// with their firmware and burst timers; the loop that serves the kernel's traffic meanwhile. How
// a device reaches the kernel is the program's Transport.
//
// The commands every transport has:
//   plug NAME SERIAL          create an adapter (a replug of a known NAME power-cycles it)
//   other NAME                create a HID device that is not an adapter
//   loopback NAME on|off      UART output comes back as input
//   modes NAME A B ...        answers for the next mode requests (0x42)
//   fifo NAME TX RX           FIFO counts answered by 0x47
//   burst NAME BYTES MICROS   BYTES pattern bytes (byte k = k mod 251) arrive on the UART,
//                             one input report every MICROS microseconds
//   state NAME                "ok key=value ..." of the firmware's state
//   quit
// End of input unplugs everything and ends the program.
class AdapterCommandReader {
public:
    // The device that is not an adapter: these ids and a vendor-page descriptor with one 8-byte
    // input report and no report ids.
    static constexpr std::uint16_t OtherVendorId = 0x1234;
    static constexpr std::uint16_t OtherProductId = 0x5678;
    static const std::vector<std::uint8_t>& OtherDescriptor();

    struct Device {
        std::string name;
        std::string serial;
        bool adapter = true;
        std::unique_ptr<AdapterFirmware> firmware;
        int timer = -1;                  // paces a burst
        std::uint64_t burstPosition = 0; // next pattern byte of a running burst
        std::uint64_t burstEnd = 0;

        const char* productName() const {
            return adapter ? "Wendrake USB adapter" : "Wendrake test other device";
        }
    };

    // How one program makes its devices real to the kernel.
    class Transport {
    public:
        virtual ~Transport() = default;
        // Makes the device known to the kernel; its firmware is fresh or just power-cycled.
        virtual std::string Plug(Device& device) = 0;
        virtual bool Plugged(const Device& device) const = 0;
        virtual bool Opened(const Device& device) const = 0;
        // The descriptor that carries the kernel's traffic while plugged, and serving it.
        virtual int Descriptor(const Device& device) const = 0;
        virtual void Service(Device& device) = 0;
        // Whether a burst may send now, and sending its next input report (full length).
        virtual bool CanSend(const Device& device) const = 0;
        virtual void SendBurstReport(Device& device, const std::uint8_t* report) = 0;
        // Why a burst at this pace cannot start now; nullopt when it can.
        virtual std::optional<std::string> BurstRefusal(const Device& device,
                                                        std::uint64_t micros) const = 0;
        // The transport's own commands on a known device (unplug, fail, mute, inject, raw,
        // ...), answered as the reader answers its own; nullopt for a verb it does not know.
        virtual std::optional<std::string> Command(Device& device, const std::string& verb,
                                                   std::istream& arguments) = 0;
        // What the state line gives after "ignored=N" (" sent=... burst=...").
        virtual std::string StateTail(const Device& device) const = 0;
        // The end of the program: the device leaves the kernel.
        virtual void Shutdown(Device& device) = 0;
    };

    explicit AdapterCommandReader(Transport& transport) : m_transport(transport) {}

    // Reads and answers commands until quit or the end of input, then unplugs everything.
    int Run();

    // "0a1b..." as bytes.
    static std::vector<std::uint8_t> ParseHex(const std::string& text);
    // The burst's pattern byte k is k mod 251.
    static void FillPattern(std::uint8_t* out, std::uint64_t from, std::size_t count);

private:
    std::string runCommand(const std::string& line, bool& quit);
    std::string stateLine(const Device& device) const;
    void startBurst(Device& device, std::uint64_t bytes, std::uint64_t micros);
    void burstTick(Device& device);

    Transport& m_transport;
    std::map<std::string, Device> m_devices;
};
