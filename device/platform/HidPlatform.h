#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The seam between CHIDDevice and the operating system's HID stack. Two implementations:
// HidrawPlatform (Linux hidraw, what users run) and EmulatedHidPlatform (tests and the demo).

using HidHandle = std::intptr_t;
inline constexpr HidHandle InvalidHidHandle = -1; // all ones; 0 is never handed out either

inline constexpr std::uint32_t HidInfiniteTimeout = 0xFFFFFFFF;

struct HidAttributes {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
};

// Report byte lengths, report id byte included.
struct HidCaps {
    std::uint16_t InputReportLength = 0;
    std::uint16_t OutputReportLength = 0;
    std::uint16_t FeatureReportLength = 0;
};

// PlatformId 2 is the NT family; Linux answers 0 so that the driver's input-buffer count is used.
struct OsVersion {
    std::uint32_t PlatformId = 0;
    std::uint32_t Major = 0;
    std::uint32_t Minor = 0;
};

// How an interrupt transfer ended. Completed covers both an immediate completion and a pending
// one that was signalled (an unplug or a cancel completes a pending transfer with 0 bytes).
enum class TransferOutcome { Completed, TimedOut, Failed };

enum class TransferKind { Read, Write };

// Device-interface arrival and removal notices, in the form the terminal window compares.
inline constexpr std::uint32_t DeviceArrivalEvent = 0x8000;
inline constexpr std::uint32_t DeviceRemoveCompleteEvent = 0x8004;
inline constexpr std::uint32_t DeviceTypeInterface = 5;

struct DeviceNotice {
    std::uint32_t EventCode = 0;
    std::uint32_t DeviceType = 0;
    std::string Name; // e.g. "\\?\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0001"
};

using DeviceNoticeHandler = std::function<void(const DeviceNotice&)>;

// An interface with the ids looked for that cannot be opened now, and why.
struct HidAccessProblem {
    enum class Reason { Permission, InUse, Other };

    std::string Path;
    Reason Why = Reason::Other;
    int Error = 0; // the errno of the refused open or lock

    bool operator==(const HidAccessProblem&) const = default;
};

// Where the seam is odd on Linux: setInputBufferCount is refused and inputBufferCount answers
// hidraw's fixed queue length, osVersion answers zeros, and notices carry made-up interface names
// in the "\\?\HID#Vid_..." form. The seam keeps them because CHIDDevice sizes its reads from
// the count and the window knows adapter notices by that name prefix, on every platform alike.
class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Path of the present HID interface at this enumeration position; nullopt past the end or
    // when the list cannot be built. The list is built afresh for every call.
    virtual std::optional<std::string> interfacePath(unsigned index) = 0;

    // Opens for reading and writing, exclusively: a device open elsewhere (by anyone) fails.
    virtual HidHandle openExclusive(const std::string& path) = 0;
    // Releases the handle; a transfer still pending on it ends.
    virtual void close(HidHandle handle) = 0;

    virtual bool attributes(HidHandle handle, HidAttributes& out) = 0;
    // NUL-terminated UTF-16 serial string into a buffer of bufferUnits code units.
    virtual bool serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) = 0;
    virtual bool capabilities(HidHandle handle, HidCaps& out) = 0;
    virtual bool setInputBufferCount(HidHandle handle, std::uint32_t count) = 0;
    virtual bool inputBufferCount(HidHandle handle, std::uint32_t& out) = 0;

    // Feature reports: byte 0 of the buffer is the report id.
    virtual bool getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) = 0;

    // One output report of exactly length bytes, report id first.
    virtual TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data,
                                        std::size_t length, std::uint32_t timeoutMs) = 0;
    // Waits until at least one input report is queued, then takes every queued report that fits,
    // each in a slot of the input report length. bytesRead is set only on Completed.
    virtual TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                        std::uint32_t timeoutMs, std::size_t& bytesRead) = 0;
    // Drops the input reports queued for the handle.
    virtual bool flushInput(HidHandle handle) = 0;

    // Wakes a pending transfer of that kind on the handle, which completes with 0 bytes. Safe
    // from any thread. The cancel is kept until resetCancel, so that a transfer that starts just
    // after it (the race between a stop flag and the wait) ends at once as well.
    virtual void cancel(HidHandle handle, TransferKind kind) = 0;
    virtual void resetCancel(HidHandle handle, TransferKind kind) = 0;

    virtual OsVersion osVersion() = 0;

    // The interfaces with these ids that this process cannot open now (not allowed, or held
    // elsewhere), found without opening anything for good; nullopt when the platform cannot
    // tell.
    virtual std::optional<std::vector<HidAccessProblem>>
    inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) {
        (void)vendorId;
        (void)productId;
        return std::nullopt;
    }
    // The serial number of the interface at path, found without opening it (for one that
    // cannot be opened); nullopt when the platform cannot tell.
    virtual std::optional<std::u16string> serialWithoutOpening(const std::string& path) {
        (void)path;
        return std::nullopt;
    }
    // The system's words for the last failure on the calling thread since the last successful
    // open ("HIDIOCSFEATURE /dev/hidraw3: Broken pipe"); empty when there is none to give.
    virtual std::string lastError() const { return {}; }

    // Arrival and removal notices, delivered on the thread that started them (the window's).
    // Returns false when notices are not available; the program works without them.
    virtual bool startNotices(DeviceNoticeHandler handler) = 0;
    virtual void stopNotices() = 0;
};
