// Runs CHIDDevice and CWendrake on the hidraw platform against adapters that an adapter program
// makes real to the kernel, and prints one line per check and "N passed, N failed". Transport
// uhid: the uhid adapter program; usbhid: the USB/IP adapter program, whose adapters are USB
// devices on the virtual host controller, driven by usbhid. The same checks run on both; usbhid
// adds what only a USB adapter does (writes held by the device). With --wendrake, the program's
// pty bridge is checked at the end.
//
//   kernel_test_client [--transport uhid|usbhid] --adapter PROGRAM [--wendrake PROGRAM]
//   kernel_test_client --probe PATH      (the second process of the exclusive-open check)

#include "device/CWendrake.h"
#include "device/platform/HidrawPlatform.h"
#include "emulator/AdapterFirmware.h"
#include "tests/kernel/GuestChecks.h"
#include "tests/kernel/PtyBridgeCheck.h"
#include "tests/kernel/UartReader.h"
#include "tests/kernel/UhidAdapterProcess.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const std::string SerialA = "WDK-A-0001";
const std::string SerialB = "WDK-B-0002";
const std::string SerialC = "WDK-C-0003";

bool usbhid = false;

std::size_t hidrawNodeCount() {
    std::error_code ec;
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
        (void)entry;
        ++n;
    }
    return n;
}

std::vector<std::string> hidrawPaths(HidPlatform& platform) {
    std::vector<std::string> paths;
    for (unsigned i = 0; i < CHIDDevice::MaxInterfaces; ++i) {
        auto path = platform.interfacePath(i);
        if (!path)
            break;
        paths.push_back(*path);
    }
    return paths;
}

std::string serialAt(CWendrake& adapter, unsigned index) {
    std::string serial = "<none>";
    if (adapter.GetSerialString(index, serial) != HidOk)
        return "<none>";
    return serial;
}

// The match index of the adapter with that serial, or -1.
int indexOfSerial(CWendrake& adapter, const std::string& serial) {
    const unsigned count = adapter.GetDeviceCount();
    for (unsigned i = 0; i < count; ++i)
        if (serialAt(adapter, i) == serial)
            return static_cast<int>(i);
    return -1;
}

std::string selfPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

std::string runCapture(const std::string& commandLine) {
    std::string out;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    ::pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// The second process: what it can count and open while the first holds an adapter.
int probe(const std::string& heldPath) {
    HidrawPlatform platform;
    CWendrake adapter(platform);
    const unsigned count = adapter.GetDeviceCount();
    const std::string serial0 = serialAt(adapter, 0);
    const HidHandle h = platform.openExclusive(heldPath);
    const bool opened = h != InvalidHidHandle;
    if (opened)
        platform.close(h);
    std::printf("count=%u serial0=%s heldopen=%d\n", count, serial0.c_str(), opened ? 1 : 0);
    return 0;
}

struct Harness {
    UhidAdapterProcess& uhid;
    HidrawPlatform& platform;
    std::vector<DeviceNotice>& notices;

    bool ok(const std::string& line) {
        const std::string answer = uhid.command(line);
        if (answer.rfind("ok", 0) != 0) {
            note("adapter program: " + line + " -> " + answer);
            return false;
        }
        return true;
    }
    // Plugs and waits for the node (hidraw nodes appear tens of ms after the create).
    bool plug(const std::string& line) {
        const std::size_t before = hidrawNodeCount();
        if (!ok(line))
            return false;
        if (line.rfind("plug ", 0) == 0)
            ++adapterArrivals;
        return waitFor([&] { return hidrawNodeCount() > before; }, 10000);
    }
    // Only adapters are ever unplugged here.
    bool unplug(const std::string& name) {
        const std::size_t before = hidrawNodeCount();
        if (!ok("unplug " + name))
            return false;
        ++adapterRemovals;
        return waitFor([&] { return hidrawNodeCount() < before; }, 10000);
    }

    // Adapter arrivals and removals made so far: each should give exactly one notice.
    long adapterArrivals = 0;
    long adapterRemovals = 0;
};

void checkEnumeration(Harness& h, CWendrake& adapter) {
    const std::vector<std::string> paths = hidrawPaths(h.platform);
    check(paths.size() == 3, "enumeration lists every hidraw interface",
          std::to_string(paths.size()) + " paths");
    check(adapter.GetDeviceCount() == 2, "two adapters counted, the other device skipped",
          std::to_string(adapter.GetDeviceCount()));
    const std::string s0 = serialAt(adapter, 0);
    const std::string s1 = serialAt(adapter, 1);
    check(s0 == SerialA && s1 == SerialB, "serials by match index from HID_UNIQ", s0 + ", " + s1);
    std::string untouched = "kept";
    check(adapter.GetSerialString(2, untouched) == HidNoDevice && untouched == "kept",
          "no adapter at match index 2");
    CHIDDevice other(h.platform);
    check(other.CountDevices(0x1234, 0x5678) == 1,
          "the other device is found by its own ids (signed ids cast)");
}

void checkReportLengths(CWendrake& adapter) {
    CHIDDevice& d = adapter.Device();
    check(d.InputReportLength() == AdapterFirmware::InputReportLength &&
              d.OutputReportLength() == AdapterFirmware::OutputReportLength &&
              d.FeatureReportLength() == AdapterFirmware::FeatureReportLength,
          "report lengths from the real descriptor",
          "in " + std::to_string(d.InputReportLength()) + " out " +
              std::to_string(d.OutputReportLength()) + " feature " +
              std::to_string(d.FeatureReportLength()));
    check(d.InputBufferCount() == HidrawPlatform::QueuedInputReports,
          "input-buffer count is the kernel's per-file queue",
          std::to_string(d.InputBufferCount()));
    check(adapter.GetReceiveBufferSize() == HidrawPlatform::QueuedInputReports * 64u,
          "receive buffer size", std::to_string(adapter.GetReceiveBufferSize()));
}

void checkExclusiveOpen(const std::string& heldPath) {
    const std::string out = runCapture(selfPath() + " --probe " + heldPath);
    check(out == "count=1 serial0=" + SerialB + " heldopen=0",
          "a second process can neither count nor open the adapter held here", out);
    HidrawPlatform second;
    const HidHandle h2 = second.openExclusive(heldPath);
    check(h2 == InvalidHidHandle, "a second open in this process is refused as well");
    if (h2 != InvalidHidHandle)
        second.close(h2);
}

struct HandshakeCase {
    const char* name;
    const char* setup; // adapter program command before Connect, or ""
    WendrakeStatus expected;
    bool openAfter;
};

void checkConnectHandshakes(Harness& h) {
    const HandshakeCase cases[] = {
        {"mode 0 then 1 connects", "", WendrakeOk, true},
        {"mode 1 at once is refused and closed", "modes A 1", WendrakeModeRefused, false},
        {"mode 0 then 0 is refused and closed", "modes A 0 0", WendrakeModeRefused, false},
        {"mode 2 at connect fails, device left open", "modes A 2", WendrakeCommandFailed, true},
        {"mode 0 then 7 fails, device left open", "modes A 0 7", WendrakeCommandFailed, true},
        {"refused set-mode fails, device left open", "fail A 40 1", WendrakeCommandFailed, true},
        {"refused get-mode fails, device left open", "fail A 42 1", WendrakeCommandFailed, true},
    };
    for (const HandshakeCase& c : cases) {
        CWendrake adapter(h.platform);
        if (*c.setup && !h.ok(c.setup)) {
            check(false, std::string("connect: ") + c.name, "setup failed");
            continue;
        }
        const WendrakeStatus status = adapter.Connect(0);
        const bool open = adapter.IsConnected();
        check(status == c.expected && open == c.openAfter, std::string("connect: ") + c.name,
              "status " + std::to_string(status) + ", open " + std::to_string(open));
        adapter.Disconnect();
        h.ok("modes A"); // nothing queued is left for the next case
    }
    CWendrake adapter(h.platform);
    check(adapter.Connect(7) == WendrakeOpenFailed, "connect: no adapter at index 7");

    // Disconnect handshakes.
    struct DisconnectCase {
        const char* name;
        const char* setup;
        WendrakeStatus expected;
    } disconnects[] = {
        {"mode 0 disconnects", "", WendrakeOk},
        {"mode 1 is refused", "modes A 1", WendrakeModeRefused},
        {"refused get-mode fails", "fail A 42 1", WendrakeCommandFailed},
    };
    for (const DisconnectCase& c : disconnects) {
        CWendrake a(h.platform);
        if (a.Connect(0) != WendrakeOk || (*c.setup && !h.ok(c.setup))) {
            check(false, std::string("disconnect: ") + c.name, "setup failed");
            continue;
        }
        const WendrakeStatus status = a.Disconnect();
        check(status == c.expected && !a.IsConnected(), std::string("disconnect: ") + c.name,
              "status " + std::to_string(status));
        h.ok("modes A");
    }
}

void checkCommands(Harness& h, CWendrake& adapter) {
    check(adapter.EnableUart() == WendrakeOk && h.uhid.state("A")["enabled"] == "1",
          "EnableUart reaches the firmware");

    const UartConfig config{9600, 1, 0, 7, 1};
    UartConfig back;
    adapter.SetUartConfig(&config);
    auto st = h.uhid.state("A");
    check(st["baud"] == "9600" && st["parity"] == "1" && st["flow"] == "0" &&
              st["databits"] == "7" && st["stopbits"] == "1",
          "SetUartConfig bytes as the firmware decodes them",
          st["baud"] + "/" + st["parity"] + "/" + st["databits"] + "/" + st["stopbits"]);
    check(adapter.GetUartConfig(&back) == WendrakeOk && back == config,
          "GetUartConfig reads back what was set");

    const PinConfig pins{2, 1, 1, 1};
    PinConfig pinsBack;
    adapter.SetPinConfig(&pins);
    st = h.uhid.state("A");
    check(st["pins"] == "2,1,1,1", "SetPinConfig", st["pins"]);
    check(adapter.GetPinConfig(&pinsBack) == WendrakeOk && pinsBack == pins,
          "GetPinConfig reads back what was set");

    std::uint8_t latch = 0;
    adapter.SetPinLatch(0xFB, PinLatchBit::Q3Reset);
    st = h.uhid.state("A");
    check(st["latch"] == "3" && adapter.GetPinLatch(&latch) == WendrakeOk && latch == 0x03,
          "pin latch: Q3 Reset low, the other lines kept", "latch " + st["latch"]);
    adapter.SetPinLatch(0x04, PinLatchBit::Q3Reset);
    st = h.uhid.state("A");
    check(st["latch"] == "7" && adapter.GetPinLatch(&latch) == WendrakeOk && latch == 0x07,
          "pin latch: Q3 Reset high again", "latch " + st["latch"]);

    FifoStatus fifo;
    const bool fifoRead = h.ok("fifo A 258 16") && adapter.GetFifoStatus(&fifo) == WendrakeOk;
    check(fifoRead && fifo == FifoStatus{258, 16}, "FIFO status, big-endian counts",
          std::to_string(fifo.TxCount) + "/" + std::to_string(fifo.RxCount));
    adapter.PurgeFifo(true, true);
    st = h.uhid.state("A");
    check(st["purges"] == "2", "PurgeFifo both sends code 2", st["purges"]);

    std::uint8_t major = 0, minor = 0;
    const bool versionRead = adapter.GetDeviceVersionMajor(&major) == WendrakeOk &&
                             adapter.GetDeviceVersionMinor(&minor) == WendrakeOk;
    check(versionRead && major == 1 && minor == 3, "device version",
          std::to_string(major) + "." + std::to_string(minor));

    check(h.ok("fail A 4a 1") && adapter.GetPinLatch(&latch) == WendrakeCommandFailed &&
              adapter.GetPinLatch(&latch) == WendrakeOk,
          "a refused feature request fails that command only");

    // A device that never answers: the kernel ends the request itself after its 5 s wait.
    const auto start = Clock::now();
    const bool muted = h.ok("mute A 43 1");
    const WendrakeStatus silent = adapter.GetDeviceVersionMajor(&major);
    const long long waited = msSince(start);
    check(muted && silent == WendrakeCommandFailed &&
              adapter.GetDeviceVersionMajor(&major) == WendrakeOk,
          "an unanswered feature request fails, the next works",
          "failed after " + std::to_string(waited) + " ms");

    check(adapter.DisableUart() == WendrakeOk && h.uhid.state("A")["enabled"] == "0",
          "DisableUart reaches the firmware");
}

// Writes in windows that the adapter can take: uhid keeps only 32 events per device and drops
// the rest, where a USB device would hold the write until its endpoint took the report.
bool loopback(CWendrake& adapter, UartReader& reader, const std::vector<std::uint8_t>& data,
              std::size_t window) {
    std::atomic<std::uint32_t> progress{0};
    for (std::size_t sent = 0; sent < data.size();) {
        const std::size_t n = std::min(window, data.size() - sent);
        if (adapter.WriteUart(data.data() + sent, static_cast<std::uint32_t>(n), &progress) !=
            WendrakeOk)
            return false;
        sent += n;
        if (!waitFor([&] { return reader.byteCount() >= sent; }, 10000))
            return false;
    }
    return progress == data.size();
}

void checkStream(Harness& h, CWendrake& adapter) {
    h.ok("loopback A on");
    UartReader reader(adapter);
    reader.start();

    const std::vector<std::uint8_t> data = testPattern(1024 * 1024 + 37, 0x5EED);
    const auto start = Clock::now();
    const bool complete = loopback(adapter, reader, data, 16 * 64);
    const long long took = msSince(start);
    const std::vector<std::uint8_t> got = reader.bytes();
    const long long diff = firstDifference(data, got);
    check(complete && diff < 0, "1 MiB UART loopback, every byte checked",
          std::to_string(got.size()) + " bytes back in " + std::to_string(took) + " ms" +
              (diff >= 0 ? ", first difference at " + std::to_string(diff) : ""));
    h.ok("loopback A off");
    reader.clear();

    // A burst of input far larger than the kernel's per-file queue while the reader keeps up.
    const std::size_t burstBytes = 400 * 64 + 21;
    // A full-speed interrupt endpoint carries one report per millisecond; uhid has no such limit.
    h.ok("burst A " + std::to_string(burstBytes) + (usbhid ? " 1000" : " 250"));
    const bool all = waitFor([&] { return reader.byteCount() >= burstBytes; }, 30000);
    std::vector<std::uint8_t> expected(burstBytes);
    for (std::size_t i = 0; i < burstBytes; ++i)
        expected[i] = static_cast<std::uint8_t>(i % 251);
    const std::vector<std::uint8_t> burst = reader.bytes();
    check(all && firstDifference(expected, burst) < 0,
          "a 401-report burst arrives whole while the reader keeps up",
          std::to_string(burst.size()) + " bytes, largest read " +
              std::to_string(reader.largestBatch()) + " bytes");

    // With nobody reading, the kernel keeps the first 63 reports and drops the rest.
    reader.stop();
    reader.clear();
    h.ok("burst A " + std::to_string(100 * 64) + " 100");
    // Reports a USB adapter still holds are not yet in the kernel's queue: wait for those too.
    waitFor(
        [&] {
            auto st = h.uhid.state("A");
            return st["burst"] == "0" && (st["queued"].empty() || st["queued"] == "0");
        },
        10000);
    // The last report handed over may still be on its way through the host controller.
    if (usbhid)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    reader.start();
    waitFor([&] { return reader.byteCount() >= 63 * 64; }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<std::uint8_t> kept = reader.bytes();
    expected.resize(63 * 64);
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<std::uint8_t>(i % 251);
    check(kept.size() == 63 * 64 && firstDifference(expected, kept) < 0,
          "unread, the kernel keeps the first 63 reports of 100",
          std::to_string(kept.size() / 64) + " reports kept");

    // A blocked ReadUart woken by the stop request.
    reader.stop();
    reader.clear();
    std::atomic<int> status{-1};
    std::atomic<bool> done{false};
    std::thread blocked([&] {
        std::vector<std::uint8_t> dest(adapter.GetReceiveBufferSize());
        std::uint16_t count = 0;
        status = adapter.ReadUart(dest.data(), static_cast<std::uint32_t>(dest.size()), &count);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const bool wasBlocked = !done;
    const auto stopAt = Clock::now();
    adapter.StopReadUart();
    const bool woke = waitFor([&] { return done.load(); }, 5000);
    const long long wake = msSince(stopAt);
    blocked.join();
    check(wasBlocked && woke && wake <= 100 && status == WendrakeCommandFailed,
          "a blocked ReadUart is woken by StopReadUart within 100 ms",
          std::to_string(wake) + " ms, status " + std::to_string(status.load()));
    adapter.ResumeReadUart();
    reader.start();
    check(h.ok("inject A 414243") && waitFor([&] { return reader.byteCount() >= 3; }, 5000) &&
              reader.bytes() == std::vector<std::uint8_t>{'A', 'B', 'C'},
          "reading goes on after ResumeReadUart");
    reader.stop();

    // The reset pulse at connect discards what arrived meanwhile.
    std::vector<std::uint8_t> dest(adapter.GetReceiveBufferSize());
    std::uint16_t count = 0;
    const bool flushed = h.ok("inject A 5859") && h.ok("inject A 5A") &&
                         adapter.FlushReceiveReports() == WendrakeOk && h.ok("inject A 21");
    const WendrakeStatus afterFlush =
        adapter.ReadUart(dest.data(), static_cast<std::uint32_t>(dest.size()), &count);
    check(flushed && afterFlush == WendrakeOk && count == 1 && dest[0] == '!',
          "FlushReceiveReports drops the queued reports only",
          std::to_string(count) + " bytes after the flush");
}

void checkUnplugWhileReading(Harness& h, CWendrake& adapter) {
    std::vector<WendrakeStatus> statuses;
    std::vector<std::uint16_t> counts;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<std::uint8_t> dest(adapter.GetReceiveBufferSize());
        for (int i = 0; i < 3; ++i) {
            std::uint16_t count = 0xFFFF;
            statuses.push_back(
                adapter.ReadUart(dest.data(), static_cast<std::uint32_t>(dest.size()), &count));
            counts.push_back(count);
        }
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const bool unplugged = h.unplug("A");
    const bool ended = waitFor([&] { return done.load(); }, 5000);
    if (!ended) {
        adapter.StopReadUart();
        reader.join();
        adapter.ResumeReadUart();
        check(false, "unplug ends a blocked ReadUart", "still blocked after 5 s");
        return;
    }
    reader.join();
    std::string seen;
    for (std::size_t i = 0; i < statuses.size(); ++i)
        seen += std::to_string(statuses[i]) +
                (statuses[i] == WendrakeOk ? "/" + std::to_string(counts[i]) + " " : " ");
    check(unplugged && statuses[0] == WendrakeOk && counts[0] == 0 &&
              statuses[1] == WendrakeCommandFailed && statuses[2] == WendrakeCommandFailed,
          "unplug: the blocked ReadUart ends with 0 bytes, later reads fail at once", seen);
    std::uint8_t latch = 0;
    check(adapter.GetPinLatch(&latch) == WendrakeCommandFailed && adapter.IsConnected(),
          "unplug: commands fail while the object stays connected");
    std::atomic<std::uint32_t> progress{0};
    const std::uint8_t byte = 0x55;
    check(adapter.WriteUart(&byte, 1, &progress) == WendrakeCommandFailed && progress == 0,
          "unplug: a new WriteUart fails at once");
}

void checkQueuedBeforeUnplug(Harness& h) {
    CWendrake b(h.platform);
    const int index = indexOfSerial(b, SerialB);
    if (index < 0 || b.Connect(static_cast<unsigned>(index)) != WendrakeOk) {
        check(false, "reports queued before an unplug are still read", "cannot connect B");
        return;
    }
    // The input report is in the kernel's queue once the adapter program has answered.
    h.ok("inject B 31323334");
    h.unplug("B");
    std::vector<std::uint8_t> dest(b.GetReceiveBufferSize());
    std::uint16_t count = 0;
    const WendrakeStatus first =
        b.ReadUart(dest.data(), static_cast<std::uint32_t>(dest.size()), &count);
    const std::string got(dest.begin(), dest.begin() + (first == WendrakeOk ? count : 0));
    // No read was waiting at the unplug, so after the queued data the next read fails at once.
    std::string after;
    int emptyReads = 0;
    bool failedAtLast = false;
    for (int i = 0; i < 2 && !failedAtLast; ++i) {
        std::uint16_t n = 0xFFFF;
        const WendrakeStatus s =
            b.ReadUart(dest.data(), static_cast<std::uint32_t>(dest.size()), &n);
        after += " " + std::to_string(s) + (s == WendrakeOk ? "/" + std::to_string(n) : "");
        if (s == WendrakeOk && n == 0)
            ++emptyReads;
        failedAtLast = s == WendrakeCommandFailed;
    }
    check(first == WendrakeOk && got == "1234" && failedAtLast && emptyReads == 0,
          "reports queued before an unplug are still read, then reads fail at once",
          "status " + std::to_string(first) + " '" + got + "', then" + after);
    b.Disconnect();
    h.plug("plug B " + SerialB);
}

void checkUnplugWhileWriting(Harness& h) {
    CWendrake adapter(h.platform);
    const int index = indexOfSerial(adapter, SerialA);
    if (index < 0 || adapter.Connect(static_cast<unsigned>(index)) != WendrakeOk) {
        check(false, "unplug during WriteUart", "cannot connect A");
        return;
    }
    const std::vector<std::uint8_t> data = testPattern(16 * 1024 * 1024, 7);
    std::atomic<std::uint32_t> progress{0};
    std::atomic<int> status{-1};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        status = adapter.WriteUart(data.data(), static_cast<std::uint32_t>(data.size()), &progress);
        done = true;
    });
    waitFor([&] { return progress.load() > 64 * 64 || done.load(); }, 10000);
    const bool unplugged = h.unplug("A");
    const bool ended = waitFor([&] { return done.load(); }, 10000);
    if (!ended) {
        adapter.StopWriteUart();
        writer.join();
        check(false, "unplug ends a running WriteUart", "still writing after 10 s");
        return;
    }
    writer.join();
    check(unplugged && status == WendrakeCommandFailed && progress < data.size(),
          "unplug ends a running WriteUart with a failure, progress short of the total",
          "status " + std::to_string(status.load()) + ", " + std::to_string(progress.load()) +
              " of " + std::to_string(data.size()) + " bytes");
    adapter.Disconnect();
}

void checkReplug(Harness& h, CWendrake& held, const std::string& oldPath) {
    // The object that still holds the unplugged adapter's descriptor keeps its node number busy.
    const bool plugged = h.plug("plug A " + SerialA);
    CWendrake adapter(h.platform);
    const int index = indexOfSerial(adapter, SerialA);
    check(plugged && index >= 0 && held.IsConnected(),
          "replug: found again by match index while the old descriptor is open",
          "index " + std::to_string(index));
    const bool connected =
        index >= 0 && adapter.Connect(static_cast<unsigned>(index)) == WendrakeOk;
    bool newNode = true;
    for (const std::string& p : hidrawPaths(h.platform))
        newNode = newNode && p != oldPath;
    check(connected && newNode, "replug: connects under a new node", oldPath + " is gone");
    UartReader reader(adapter);
    reader.start();
    h.ok("loopback A on");
    const std::vector<std::uint8_t> data = testPattern(4096, 99);
    check(connected && loopback(adapter, reader, data, 1024) && reader.bytes() == data,
          "replug: loopback through the new node");
    reader.stop();
    check(held.Disconnect() != WendrakeOk && !held.IsConnected(),
          "the unplugged object disconnects (handshake fails) and closes");
    adapter.Disconnect();
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string errnoText(ssize_t result, int error) {
    return result >= 0 ? std::to_string(result) : std::string("-1 ") + std::strerror(error);
}

// What the hidraw platform assumes of the driver, seen with plain system calls on one node.
void checkKernelFacts(Harness& h) {
    const std::vector<std::string> before = hidrawPaths(h.platform);
    if (!h.plug("plug C " + SerialC)) {
        check(false, "kernel: a third adapter plugged for the driver's own answers");
        return;
    }
    std::string path;
    for (const std::string& p : hidrawPaths(h.platform))
        if (std::find(before.begin(), before.end(), p) == before.end())
            path = p;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        check(false, "kernel: open " + path, std::strerror(errno));
        return;
    }

    hidraw_devinfo info{};
    ::ioctl(fd, HIDIOCGRAWINFO, &info);
    check(static_cast<std::uint16_t>(info.vendor) == WendrakeVendorId &&
              static_cast<std::uint16_t>(info.product) == WendrakeProductId &&
              info.bustype == BUS_USB,
          "kernel: HIDIOCGRAWINFO gives the ids as signed 16-bit values",
          "vendor reads as " + std::to_string(info.vendor));

    int descriptorSize = 0;
    ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize);
    check(descriptorSize == static_cast<int>(AdapterFirmware::ReportDescriptor().size()),
          "kernel: HIDIOCGRDESCSIZE is the descriptor the adapter declared",
          std::to_string(descriptorSize) + " bytes");

    std::uint8_t feature[16] = {AdapterFirmware::GetModeReport};
    const int longer = ::ioctl(fd, HIDIOCGFEATURE(9), feature);
    feature[0] = AdapterFirmware::UartConfigReport;
    const int shorter = ::ioctl(fd, HIDIOCGFEATURE(3), feature);
    check(longer == 2 && shorter == 3 && feature[0] == AdapterFirmware::UartConfigReport,
          "kernel: HIDIOCGFEATURE answers min(length, reply), report id first",
          "9 bytes asked of a 2-byte report: " + std::to_string(longer) +
              ", 3 of a 9-byte one: " + std::to_string(shorter));

    std::uint8_t out[AdapterFirmware::OutputReportLength] = {0x81, 'x'};
    const ssize_t written = ::write(fd, out, sizeof out);
    check(written == static_cast<ssize_t>(sizeof out), "kernel: write() takes one whole report",
          errnoText(written, errno));

    std::vector<std::uint8_t> chunk(64);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i);
    std::uint8_t small[10] = {};
    const bool injected = h.ok("inject C " + hexOf(chunk));
    const ssize_t cut = ::read(fd, small, sizeof small);
    const int cutError = errno;
    std::uint8_t big[128] = {};
    const ssize_t rest = ::read(fd, big, sizeof big);
    const int restError = errno;
    check(injected && cut == 10 && small[0] == 0xC0 && small[9] == 8 && rest < 0 &&
              restError == EAGAIN,
          "kernel: a short read buffer cuts the report and drops its rest",
          errnoText(cut, cutError) + " then " + errnoText(rest, restError));

    // A report shorter than the descriptor declares: the adapter program never sends one.
    h.ok("raw C 8341424300");
    const ssize_t shortReport = ::read(fd, big, sizeof big);
    note(std::string("kernel: a 5-byte input report of a 65-byte declared size ") +
         (shortReport < 0 ? "is dropped (" + errnoText(shortReport, errno) + ")"
                          : "arrives as " + std::to_string(shortReport) + " bytes"));

    std::atomic<short> revents{0};
    std::thread poller([&] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) > 0)
            revents = p.revents;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    h.unplug("C");
    poller.join();
    const short r = revents;
    check((r & POLLHUP) && (r & POLLERR),
          "kernel: unplug wakes a blocked poll with POLLERR|POLLHUP", "revents 0x" + [&] {
              char text[8];
              std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(r));
              return std::string(text);
          }());
    const ssize_t readGone = ::read(fd, big, sizeof big);
    const int readError = errno;
    const ssize_t writeGone = ::write(fd, out, sizeof out);
    const int writeError = errno;
    feature[0] = AdapterFirmware::GetModeReport;
    const int ioctlGone = ::ioctl(fd, HIDIOCGFEATURE(2), feature);
    const int ioctlError = errno;
    check(readGone < 0 && readError == EIO && writeGone < 0 && writeError == ENODEV &&
              ioctlGone < 0 && ioctlError == ENODEV,
          "kernel: after an unplug read() gives EIO, write() and ioctls ENODEV",
          "read " + errnoText(readGone, readError) + ", write " + errnoText(writeGone, writeError) +
              ", ioctl " + errnoText(ioctlGone, ioctlError));
    ::close(fd);
}

std::string pathOfNewNode(Harness& h, const std::vector<std::string>& before) {
    for (const std::string& p : hidrawPaths(h.platform))
        if (std::find(before.begin(), before.end(), p) == before.end())
            return p;
    return {};
}

struct TimedWrite {
    ssize_t result = 0;
    int error = 0;
    long long ms = 0;
};

// A write() of one output report on another thread; its outcome once it returned.
class BackgroundWrite {
public:
    explicit BackgroundWrite(int fd) {
        m_thread = std::thread([this, fd] {
            std::uint8_t out[AdapterFirmware::OutputReportLength] = {0x81, 'w'};
            const auto start = Clock::now();
            const ssize_t n = ::write(fd, out, sizeof out);
            m_outcome.error = errno;
            m_outcome.result = n;
            m_outcome.ms = msSince(start);
            m_done = true;
        });
    }
    ~BackgroundWrite() { m_thread.join(); }
    bool done() const { return m_done; }
    TimedWrite outcome() const { return m_outcome; }

private:
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    TimedWrite m_outcome;
};

// usbhid only: what write() on the node does while the adapter holds its OUT endpoint, seen with
// plain system calls. The figures are the ones the README gives.
void checkHeldWrites(Harness& h) {
    const std::vector<std::string> before = hidrawPaths(h.platform);
    if (!h.plug("plug D WDK-D-0004")) {
        check(false, "usbhid: an adapter plugged for the held writes");
        return;
    }
    // The sysfs entry can come a moment before the node in /dev.
    std::string path;
    int fd = -1;
    waitFor(
        [&] {
            path = pathOfNewNode(h, before);
            fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            return fd >= 0;
        },
        5000);
    if (fd < 0) {
        check(false, "usbhid: open " + path, std::strerror(errno));
        return;
    }
    h.ok("hold D on");
    {
        BackgroundWrite w(fd);
        waitFor([&] { return w.done(); }, 15000);
        const TimedWrite t = w.outcome();
        check(
            w.done() && t.result < 0 && t.error == ETIMEDOUT && t.ms >= 3000,
            "usbhid: a held write() waits in the kernel until usbhid gives up (O_NONBLOCK or not)",
            errnoText(t.result, t.error) + " after " + std::to_string(t.ms) + " ms");
    }
    {
        BackgroundWrite w(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const bool blocked = !w.done();
        const auto released = Clock::now();
        h.ok("hold D off");
        waitFor([&] { return w.done(); }, 10000);
        const long long after = msSince(released);
        const TimedWrite t = w.outcome();
        check(blocked && t.result == static_cast<ssize_t>(AdapterFirmware::OutputReportLength) &&
                  after < 1000,
              "usbhid: a held write() returns the report length once the adapter takes it",
              errnoText(t.result, t.error) + ", " + std::to_string(after) +
                  " ms after the release");
    }
    h.ok("hold D on");
    {
        BackgroundWrite w(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const bool blocked = !w.done();
        const auto unplugged = Clock::now();
        h.unplug("D");
        waitFor([&] { return w.done(); }, 10000);
        const long long after = msSince(unplugged);
        const TimedWrite t = w.outcome();
        check(blocked && t.result < 0 && after < 2000,
              "usbhid: an unplug ends a held write() with an error",
              errnoText(t.result, t.error) + ", " + std::to_string(after) + " ms after the unplug");
    }
    ::close(fd);
}

// usbhid only: the device layer never waits on a write() the kernel holds beyond its own bound,
// and closes the node only after that write left the kernel.
void checkStalledWriteBounds(Harness& h) {
    CWendrake adapter(h.platform);
    const int index = indexOfSerial(adapter, SerialB);
    if (index < 0 || adapter.Connect(static_cast<unsigned>(index)) != WendrakeOk) {
        check(false, "usbhid: stalled writes", "cannot connect B");
        return;
    }
    h.ok("hold B on");
    const std::uint8_t typed[] = {'A', 'T', '\r', '\n'};
    auto start = Clock::now();
    const WendrakeStatus bounded = adapter.WriteUart(typed, sizeof typed, nullptr, 300);
    const long long boundedMs = msSince(start);
    check(bounded == WendrakeCommandFailed && boundedMs < 1000,
          "usbhid: a WriteUart with a 300 ms report bound returns in time while write() is held",
          "status " + std::to_string(bounded) + " after " + std::to_string(boundedMs) + " ms");

    // A file send's worker, stopped the way Cancel stops it.
    const std::vector<std::uint8_t> file = testPattern(64 * 1024, 3);
    std::atomic<std::uint32_t> progress{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        adapter.WriteUart(file.data(), static_cast<std::uint32_t>(file.size()), &progress);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const bool stuck = !done;
    start = Clock::now();
    adapter.StopWriteUart();
    worker.join();
    const long long stopMs = msSince(start);
    adapter.ResumeWriteUart();
    check(stuck && stopMs <= 100 && progress == 0,
          "usbhid: StopWriteUart frees a worker stuck in a held write() within 100 ms",
          std::to_string(stopMs) + " ms, " + std::to_string(progress.load()) + " bytes counted");

    start = Clock::now();
    adapter.Disconnect();
    const long long disconnectMs = msSince(start);
    check(!adapter.IsConnected() && disconnectMs < 1000,
          "usbhid: Disconnect returns while a write() is still in the kernel",
          std::to_string(disconnectMs) + " ms");
    // The node stays locked until the write the kernel still holds has ended.
    start = Clock::now();
    CWendrake again(h.platform);
    const bool reopened =
        waitFor([&] { return again.Connect(static_cast<unsigned>(index)) == WendrakeOk; }, 12000);
    const long long reopenMs = msSince(start);
    check(reopened, "usbhid: the adapter opens again once the kernel let go of the held write",
          "after " + std::to_string(reopenMs) + " ms");
    h.ok("hold B off");
    const std::uint8_t byte = 0x42;
    check(reopened && again.WriteUart(&byte, 1) == WendrakeOk,
          "usbhid: writes go through again after the release");
    again.Disconnect();
}

void checkNotices(Harness& h) {
    const std::string prefix = AdapterPathPrefix;
    auto count = [&](std::uint32_t code, bool adapter) {
        return std::count_if(h.notices.begin(), h.notices.end(), [&](const DeviceNotice& n) {
            return n.EventCode == code && n.DeviceType == DeviceTypeInterface &&
                   (n.Name.compare(0, prefix.size(), prefix) == 0) == adapter;
        });
    };
    waitFor(
        [&] {
            return count(DeviceArrivalEvent, true) >= h.adapterArrivals &&
                   count(DeviceRemoveCompleteEvent, true) >= h.adapterRemovals;
        },
        5000);
    // Duplicates would have come by now as well.
    waitFor([] { return false; }, 300);
    const long arrivals = count(DeviceArrivalEvent, true);
    const long removals = count(DeviceRemoveCompleteEvent, true);
    check(arrivals == h.adapterArrivals && removals == h.adapterRemovals,
          "one netlink notice for each adapter arrival and removal",
          std::to_string(arrivals) + " of " + std::to_string(h.adapterArrivals) + " arrivals, " +
              std::to_string(removals) + " of " + std::to_string(h.adapterRemovals) + " removals");
    if (arrivals != h.adapterArrivals || removals != h.adapterRemovals)
        for (const DeviceNotice& n : h.notices)
            note("notice " + std::to_string(n.EventCode) + " " + n.Name);
    check(count(DeviceArrivalEvent, false) >= 1,
          "the other device's notice does not carry the adapter prefix");
    bool wellFormed = !h.notices.empty();
    for (const DeviceNotice& n : h.notices) {
        if (n.Name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // \\?\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.000N
        const std::string tail = n.Name.substr(prefix.size());
        wellFormed = wellFormed && tail.rfind("#0003:E7A2:4D15.", 0) == 0 && tail.size() == 20;
    }
    std::string first = h.notices.empty() ? "none" : h.notices.front().Name;
    check(wellFormed, "adapter notice names carry the hid device's kernel name", first);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--probe")
        return probe(argv[2]);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string wendrake;
    if (args.size() >= 2 && args[args.size() - 2] == "--wendrake") {
        wendrake = args.back();
        args.resize(args.size() - 2);
    }
    if (args.size() == 4 && args[0] == "--transport") {
        usbhid = args[1] == "usbhid";
        if (!usbhid && args[1] != "uhid")
            args.clear();
        else
            args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2 || args[0] != "--adapter") {
        std::fprintf(stderr, "usage: kernel_test_client [--transport uhid|usbhid] --adapter "
                             "PROGRAM [--wendrake PROGRAM]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);

    UhidAdapterProcess uhid(args[1]);
    HidrawPlatform platform;
    std::vector<DeviceNotice> notices;
    const bool noticesOn =
        platform.startNotices([&](const DeviceNotice& n) { notices.push_back(n); });
    check(noticesOn, "notices start on the netlink monitor");
    Harness h{uhid, platform, notices};

    // One at a time, so that the node numbers follow the plug order.
    const bool plugged =
        h.plug("plug A " + SerialA) && h.plug("plug B " + SerialB) && h.plug("other X");
    check(plugged, usbhid ? "two adapters and another HID device attached through USB/IP"
                          : "two adapters and another HID device plugged through uhid");
    if (!plugged) {
        std::printf("%d passed, %d failed\n", passed, failed + 1);
        return 1;
    }

    CWendrake adapter(platform);
    checkEnumeration(h, adapter);
    checkConnectHandshakes(h);

    const WendrakeStatus connected = adapter.Connect(0);
    check(connected == WendrakeOk, "connect to adapter A", std::to_string(connected));
    if (connected == WendrakeOk) {
        const std::string heldPath = *platform.interfacePath(0);
        checkReportLengths(adapter);
        checkExclusiveOpen(heldPath);
        checkCommands(h, adapter);
        if (usbhid)
            checkStalledWriteBounds(h);
        checkStream(h, adapter);
        checkUnplugWhileReading(h, adapter);
        checkQueuedBeforeUnplug(h);
        checkReplug(h, adapter, heldPath);
        checkUnplugWhileWriting(h);
    }
    if (usbhid)
        checkHeldWrites(h);
    checkKernelFacts(h);
    checkNotices(h);
    platform.stopNotices();
    if (!wendrake.empty())
        checkPtyBridge(uhid, wendrake);

    std::printf("%s: %d passed, %d failed\n", usbhid ? "usbhid" : "uhid", passed, failed);
    return failed == 0 ? 0 : 1;
}
