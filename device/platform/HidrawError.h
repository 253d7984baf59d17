#pragma once

#include <string>
#include <string_view>

// Every failing system call of the hidraw platform ends up here: logged with the system's words,
// and kept as the calling thread's last failure, which HidPlatform::lastError gives.
class HidrawError {
public:
    // Takes errno as a value, read right after the call.
    static void report(std::string_view call, std::string_view subject, int error);
    // "HIDIOCSFEATURE /dev/hidraw3: Broken pipe"; empty when nothing failed since clear().
    static std::string last();
    static void clear();
};
