#include "device/platform/HidDescriptorParser.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <span>

// A report descriptor comes from whatever device is plugged in.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto result = HidDescriptorParser::parse(std::span<const std::uint8_t>(data, size));
    if (!result.ok) {
        fuzzCheck(!result.error.empty(), "a refused descriptor says why");
        fuzzCheck(result.errorOffset <= size, "the error offset lies inside the descriptor");
        fuzzCheck(result.caps.InputReportLength == 0 && result.caps.OutputReportLength == 0 &&
                      result.caps.FeatureReportLength == 0,
                  "a refused descriptor answers no lengths");
        return 0;
    }
    // A report has its id byte and at least one byte of data, or it is not there at all.
    for (const std::uint16_t length :
         {result.caps.InputReportLength, result.caps.OutputReportLength,
          result.caps.FeatureReportLength})
        fuzzCheck(length == 0 || length >= 2, "a report length counts the id and some data");
    return 0;
}
