#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What every check in the guest shares: one printed line per check and the tally that decides
// the guest's exit status.
using Clock = std::chrono::steady_clock;

extern int passed;
extern int failed;

void check(bool ok, const std::string& name, const std::string& detail = {});
void note(const std::string& text);
// Waits for a condition while the event loop runs, so device notices keep arriving.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);
long long msSince(Clock::time_point start);
std::vector<std::uint8_t> testPattern(std::size_t size, std::uint32_t seed);
// Index of the first differing byte, or -1.
long long firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
