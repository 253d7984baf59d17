#pragma once

#include "device/platform/HidPlatform.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Reads a HID report descriptor and answers the byte length of its largest input, output and
// feature report, the way the report lengths of an open device are quoted everywhere else: the
// report id byte is always counted, also when the descriptor uses no ids. hidraw carries that byte
// for output and feature reports in both cases (0 when ids are unused); input reports of a device
// without ids arrive without it, so the platform puts a 0 in front of them to keep one layout.
// A type the descriptor has no report of answers 0.
class HidDescriptorParser {
public:
    struct Result {
        bool ok = false;
        HidCaps caps;
        bool usesReportIds = false;
        std::string error;           // what was wrong, when !ok
        std::size_t errorOffset = 0; // offset of the offending item, when !ok
    };

    // Pure: never reads outside the given bytes, never throws.
    static Result parse(std::span<const std::uint8_t> descriptor);

    // Limits that keep a hostile descriptor from exhausting anything.
    static constexpr std::size_t MaxGlobalStackDepth = 16;
    static constexpr std::size_t MaxCollectionDepth = 64;
    // The largest report whose length, id byte included, still fits a 16-bit length.
    static constexpr std::uint64_t MaxReportBits = (0xFFFFull - 1) * 8;
};
