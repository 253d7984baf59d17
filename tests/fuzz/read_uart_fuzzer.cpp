#include "device/CWendrake.h"
#include "device/WendrakeProtocol.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

// An adapter whose input report length and queue size are chosen by the input, and whose reads
// hand over scripted bytes: any ids, cut reports, reads that end inside a report.
class ScriptedInputPlatform : public EmulatedHidPlatform {
public:
    std::uint16_t inputLength = 65;
    std::uint32_t queueSize = 63;
    std::deque<std::vector<std::uint8_t>> reads;

    bool capabilities(HidHandle handle, HidCaps& out) override {
        if (!EmulatedHidPlatform::capabilities(handle, out))
            return false;
        out.InputReportLength = inputLength;
        return true;
    }
    bool setInputBufferCount(HidHandle, std::uint32_t) override { return true; }
    bool inputBufferCount(HidHandle, std::uint32_t& out) override {
        out = queueSize;
        return true;
    }
    TransferOutcome readReports(HidHandle, std::uint8_t* buffer, std::size_t length, std::uint32_t,
                                std::size_t& bytesRead) override {
        if (reads.empty())
            return TransferOutcome::Failed;
        const std::vector<std::uint8_t>& read = reads.front();
        bytesRead = std::min(length, read.size());
        std::copy_n(read.begin(), bytesRead, buffer);
        reads.pop_front();
        return TransferOutcome::Completed;
    }
};

// The stream bytes a read should give: each report slot with a stream id gives as many bytes as
// its id claims, as far as its slot and the read reach.
std::vector<std::uint8_t> streamBytes(const std::vector<std::uint8_t>& read, std::size_t slot) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t p = 0; p < read.size(); p += slot) {
        if (read[p] < WendrakeProtocol::FirstStreamId || read[p] > WendrakeProtocol::LastStreamId)
            continue;
        const std::size_t end =
            std::min({p + 1 + (read[p] - WendrakeProtocol::StreamIdBase), p + slot, read.size()});
        bytes.insert(bytes.end(), read.begin() + static_cast<std::ptrdiff_t>(p + 1),
                     read.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return bytes;
}

} // namespace

// Input reports as a device that claims to be an adapter may send them. The input: the input
// report length, the queue size, then reads of a 16-bit length and that many bytes each.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    ScriptedInputPlatform platform;
    platform.AddAdapter("WDK-FUZZ");
    platform.inputLength = data[0] % 70;
    platform.queueSize = data[1] % 65;
    for (std::size_t pos = 2; pos + 2 <= size;) {
        const std::size_t wanted = data[pos] | std::size_t{data[pos + 1]} << 8;
        pos += 2;
        const std::size_t n = std::min(wanted, size - pos);
        platform.reads.emplace_back(data + pos, data + pos + n);
        pos += n;
    }

    CWendrake wendrake(platform);
    const WendrakeStatus connected = wendrake.Connect(0);
    const bool usable = platform.inputLength >= 2 && platform.inputLength <= 65;
    if (!usable) {
        fuzzCheck(connected == WendrakeUnsupportedDevice, "unusable report lengths are refused");
        return 0;
    }
    if (connected != WendrakeOk)
        return 0;

    // Exactly the capacity the adapter asks for: a write past it is caught by the sanitizer.
    std::vector<std::uint8_t> destination(wendrake.GetReceiveBufferSize());
    const std::size_t slot = platform.inputLength;
    const std::size_t readLength = destination.size() / (slot - 1) * slot;
    while (!platform.reads.empty()) {
        std::vector<std::uint8_t> read = platform.reads.front();
        read.resize(std::min(read.size(), readLength));
        std::uint16_t count = 0;
        const WendrakeStatus status = wendrake.ReadUart(
            destination.data(), static_cast<std::uint32_t>(destination.size()), &count);
        if (status != WendrakeOk)
            break;
        fuzzCheck(count <= destination.size(), "a read delivers no more than its buffer");
        const std::vector<std::uint8_t> expected = streamBytes(read, slot);
        fuzzCheck(std::equal(destination.begin(), destination.begin() + count, expected.begin(),
                             expected.end()),
                  "a read delivers the bytes its stream reports carry");
    }
    wendrake.Disconnect();
    return 0;
}
