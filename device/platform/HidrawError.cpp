#include "device/platform/HidrawError.h"

#include "common/LogCategories.h"

namespace {

// The last failure of each thread.
thread_local std::string t_lastError;

} // namespace

void HidrawError::report(std::string_view call, std::string_view subject, int error) {
    t_lastError =
        std::string(call) + " " + std::string(subject) + ": " + errnoText(error).toStdString();
    logSystemFailure(lcHidraw(), call, subject, error);
}

std::string HidrawError::last() {
    return t_lastError;
}

void HidrawError::clear() {
    t_lastError.clear();
}
