#include "tests/kernel/PtyBridgeCheck.h"

#include "tests/kernel/GuestChecks.h"
#include "tests/kernel/UhidAdapterProcess.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// termios2 and BOTHER: <termios.h> has neither and cannot be included beside this header.
#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Serial = "WDK-D-0004";
const std::string Link = "/tmp/wendrake-tty-D";
const std::string BridgeLog = "/tmp/wendrake-bridge.log";

bool hidrawNodeWithSerial(const std::string& serial) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
        std::ifstream uevent(entry.path() / "device" / "uevent");
        std::string line;
        while (std::getline(uevent, line))
            if (line == "HID_UNIQ=" + serial)
                return true;
    }
    return false;
}

pid_t startBridge(const std::string& wendrake) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int log = ::open(BridgeLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execl(wendrake.c_str(), "wendrake", "bridge", "-s", Serial.c_str(), "--link",
                Link.c_str(), "--once", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// The exit status, or -1 when the program did not end within timeoutMs.
int waitForExit(pid_t pid, int timeoutMs) {
    int status = 0;
    pid_t ended = 0;
    waitFor([&] { return (ended = ::waitpid(pid, &status, WNOHANG)) == pid; }, timeoutMs);
    if (ended != pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void showBridgeLog() {
    std::ifstream log(BridgeLog);
    std::string line;
    while (std::getline(log, line))
        note("bridge: " + line);
}

// What a raw-mode serial program sets: no line editing, no echo, no signals, 8 bits. Clearing
// every local flag also clears EXTPROC, as some programs do.
void makeRaw(termios2& t) {
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag = 0;
    t.c_cflag &= ~(CSIZE | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

struct RateCase {
    const char* name;
    speed_t code; // B57600 and the like, or BOTHER for any rate
    unsigned rate;
    bool raw;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return false;
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
        }
    }
    return true;
}

// Reads until want bytes have come or nothing came for timeoutMs.
void readUpTo(int fd, std::vector<std::uint8_t>& into, std::size_t want, int timeoutMs) {
    std::uint8_t buffer[4096];
    while (into.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return;
        into.insert(into.end(), buffer, buffer + n);
    }
}

// What the bridge relies on, on this kernel: in packet mode a settings change made on the
// terminal side is announced to the master (TIOCPKT_IOCTL) while EXTPROC is set, including the
// change that clears it, and not after.
void checkPacketModeFacts() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    const int client = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
                           ? ::open(::ptsname(master), O_RDWR | O_NOCTTY)
                           : -1;
    int on = 1;
    termios2 t{};
    bool ready =
        client >= 0 && ::ioctl(master, TIOCPKT, &on) == 0 && ::ioctl(master, TCGETS2, &t) == 0;
    t.c_lflag = EXTPROC;
    ready = ready && ::ioctl(master, TCSETS2, &t) == 0;
    // The status byte of the next packet, or -1 when none came.
    auto announced = [&] {
        pollfd p{master, POLLIN, 0};
        unsigned char packet[64];
        if (::poll(&p, 1, 500) <= 0 || ::read(master, packet, sizeof packet) <= 0)
            return -1;
        return int(packet[0]);
    };
    std::string seen;
    if (ready) {
        seen += std::to_string(announced()); // the arming itself
        for (const tcflag_t lflag : {tcflag_t(EXTPROC), tcflag_t(0), tcflag_t(0)}) {
            ::ioctl(client, TCGETS2, &t);
            t.c_lflag = lflag;
            t.c_cflag = (t.c_cflag & ~CBAUD) | BOTHER;
            t.c_ispeed = t.c_ospeed = t.c_ospeed + 1000;
            ::ioctl(client, TCSETS2, &t);
            seen += "," + std::to_string(announced());
        }
    }
    // TIOCPKT_IOCTL is 64.
    check(seen == "64,64,64,-1",
          "kernel: packet mode announces settings changes while EXTPROC is set",
          "status bytes " + seen);
    if (client >= 0)
        ::close(client);
    if (master >= 0)
        ::close(master);
}

// The rest the bridge relies on: what a client can and cannot set on a pty, and how the master
// tells whether a client has the node open.
void checkPtyLineFacts() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool made = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0;
    const std::string node = made ? ::ptsname(master) : "";
    auto hungUp = [&] {
        pollfd p{master, POLLIN, 0};
        return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP);
    };
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const bool watched =
        made && watch >= 0 && ::inotify_add_watch(watch, node.c_str(), IN_OPEN | IN_CLOSE) >= 0;
    const bool hupBefore = made && hungUp();
    const int client = made ? ::open(node.c_str(), O_RDWR | O_NOCTTY) : -1;
    const bool hupWhileOpen = client >= 0 && hungUp();

    termios2 t{};
    bool eightBits = false;
    if (client >= 0 && ::ioctl(client, TCGETS2, &t) == 0) {
        t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD;
        ::ioctl(client, TCSETS2, &t);
        eightBits = ::ioctl(client, TCGETS2, &t) == 0 && (t.c_cflag & CSIZE) == CS8 &&
                    !(t.c_cflag & PARENB);
    }
    int modemLines = 0;
    const bool modemRefused =
        client >= 0 && ::ioctl(client, TIOCMGET, &modemLines) == -1 && errno == ENOTTY;
    if (client >= 0)
        ::close(client);
    const bool hupAfter = made && hungUp();

    std::string events;
    alignas(inotify_event) char buffer[512];
    for (ssize_t n; watched && (n = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            events += (e->mask & IN_OPEN) ? "open " : (e->mask & IN_CLOSE) ? "close " : "other ";
            at += ssize_t(sizeof(inotify_event)) + e->len;
        }

    check(eightBits, "kernel: a pty keeps 8 bits without parity whatever the client sets",
          "cflag " + std::to_string(t.c_cflag));
    check(modemRefused, "kernel: modem-line ioctls on a pty fail with ENOTTY");
    // Never opened, the master reports no hang-up: the bridge opens and closes the node once
    // itself before it watches for clients.
    check(!hupBefore && !hupWhileOpen && hupAfter,
          "kernel: the master reports POLLHUP after a client closed the node, not before its first "
          "open nor while it is open",
          std::string("before ") + (hupBefore ? "HUP" : "-") + ", open " +
              (hupWhileOpen ? "HUP" : "-") + ", after " + (hupAfter ? "HUP" : "-"));
    check(events == "open close ",
          "kernel: inotify on the node reports the client's open and close", events);
    if (watch >= 0)
        ::close(watch);
    if (master >= 0)
        ::close(master);
}

} // namespace

void checkPtyBridge(UhidAdapterProcess& uhid, const std::string& wendrake) {
    checkPacketModeFacts();
    checkPtyLineFacts();
    const int failedBefore = failed;
    const bool plugged = uhid.command("plug D " + Serial).rfind("ok", 0) == 0 &&
                         waitFor([] { return hidrawNodeWithSerial(Serial); }, 10000);
    check(plugged, "bridge: an adapter of its own is plugged");
    if (!plugged)
        return;
    const std::string baudBefore = uhid.state("D")["baud"];

    const pid_t bridge = startBridge(wendrake);
    std::error_code ec;
    const bool linked =
        bridge > 0 && waitFor([&] { return std::filesystem::exists(Link, ec); }, 20000);
    check(linked, "bridge: the link to the pty appears", Link);
    const int fd = linked ? ::open(Link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
    if (fd >= 0) {
        // A standard rate with the local flags cleared, then a rate only BOTHER can carry: the
        // second is announced only if the bridge armed EXTPROC again after the first.
        const RateCase rates[] = {
            {"a standard rate set with EXTPROC cleared", B57600, 57600, true},
            {"then a rate only TCSETS2 carries", BOTHER, 250000, false},
        };
        for (const RateCase& c : rates) {
            termios2 t{};
            bool set = ::ioctl(fd, TCGETS2, &t) == 0;
            if (c.raw)
                makeRaw(t);
            t.c_cflag = (t.c_cflag & ~CBAUD) | c.code;
            t.c_ispeed = t.c_ospeed = c.rate;
            set = set && ::ioctl(fd, TCSETS2, &t) == 0;
            // Where the client cleared EXTPROC, the bridge must arm it again before the next
            // change, or that change is never announced.
            std::string seen;
            bool armed = false;
            const bool followed =
                set && waitFor(
                           [&] {
                               seen = uhid.state("D")["baud"];
                               termios2 now{};
                               armed = ::ioctl(fd, TCGETS2, &now) == 0 && (now.c_lflag & EXTPROC);
                               return seen == std::to_string(c.rate) && armed;
                           },
                           10000);
            check(followed, std::string("bridge: ") + c.name + " reaches the adapter",
                  "adapter at " + seen + " baud, EXTPROC " + (armed ? "set" : "clear"));
        }

        uhid.command("loopback D on");
        const std::vector<std::uint8_t> data = testPattern(64 * 1024, 0xB21D);
        std::vector<std::uint8_t> back;
        // A window at a time: uhid drops output reports beyond 32 waiting, where a USB adapter
        // would hold the write.
        constexpr std::size_t Window = 1024;
        const auto start = Clock::now();
        for (std::size_t sent = 0; sent < data.size() && back.size() == sent; sent += Window) {
            if (!writeAll(fd, data.data() + sent, Window))
                break;
            readUpTo(fd, back, sent + Window, 10000);
        }
        const long long took = msSince(start);
        uhid.command("loopback D off");
        const long long diff = firstDifference(data, back);
        check(diff < 0, "bridge: 64 KiB through the link and the adapter's loopback, in order",
              std::to_string(back.size()) + " bytes back in " + std::to_string(took) + " ms" +
                  (diff >= 0 ? ", first difference at " + std::to_string(diff) : ""));
        ::close(fd);
    }

    const int status = bridge > 0 ? (::kill(bridge, SIGTERM), waitForExit(bridge, 20000)) : -1;
    check(status == 0, "bridge: SIGTERM ends it with status 0", std::to_string(status));
    const std::string baudAfter = uhid.state("D")["baud"];
    check(baudAfter == baudBefore, "bridge: the adapter gets back the rate it had",
          baudBefore + " before, " + baudAfter + " after");
    check(!std::filesystem::is_symlink(Link, ec), "bridge: the link is gone at the end");
    if (failed > failedBefore)
        showBridgeLog();
    uhid.command("unplug D");
}
