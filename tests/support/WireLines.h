#pragma once

#include "emulator/EmulatedHidPlatform.h"

#include <string>
#include <vector>

// The wire record's lines that start with prefix (one report id, say); the pin poll's reads
// come in between the rest.
inline std::vector<std::string> wireFor(const EmulatedHidPlatform& platform,
                                        const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : platform.WireSummary()) {
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    }
    return lines;
}
