#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The record of every report the device layer exchanged with the emulated devices, in order,
// and its summary as short lines. Not locked: the emulated platform keeps it under its own lock.
class WireLog {
public:
    // One report on the wire, as the device layer exchanged it.
    struct Record {
        enum class Kind { FeatureGet, FeatureSet, OutputReport, InputReport };
        Kind kind = Kind::FeatureGet;
        unsigned device = 0;
        std::uint8_t reportId = 0;
        std::size_t length = 0;          // bytes handed over, report id included
        std::vector<std::uint8_t> bytes; // for a get, the answer; for input, the delivered slot
        bool succeeded = true;           // false when the transfer failed (injected or refused)
    };

    // Notes a report of length bytes (report id first) while recording is on.
    void Add(Record::Kind kind, unsigned device, const std::uint8_t* bytes, std::size_t length,
             bool succeeded);
    const std::vector<Record>& Records() const { return m_records; }
    // "get 42 01", "set 40 02", "out c0 41 42 ...", "in 83 61 62 63": output and input lines
    // stop after the bytes the id announces.
    std::vector<std::string> Summary() const;
    void Clear() { m_records.clear(); }
    // Long runs turn recording off to keep memory flat.
    void SetRecording(bool on) { m_recording = on; }

private:
    std::vector<Record> m_records;
    bool m_recording = true;
};
