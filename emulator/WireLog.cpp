#include "emulator/WireLog.h"

#include "emulator/AdapterFirmware.h"

#include <algorithm>
#include <cstdio>

void WireLog::Add(Record::Kind kind, unsigned device, const std::uint8_t* bytes, std::size_t length,
                  bool succeeded) {
    if (!m_recording)
        return;
    Record record;
    record.kind = kind;
    record.device = device;
    record.reportId = length > 0 ? bytes[0] : 0;
    record.length = length;
    record.bytes.assign(bytes, bytes + length);
    record.succeeded = succeeded;
    m_records.push_back(std::move(record));
}

std::vector<std::string> WireLog::Summary() const {
    std::vector<std::string> lines;
    lines.reserve(m_records.size());
    for (const Record& record : m_records) {
        std::string line;
        std::size_t shown = record.bytes.size();
        switch (record.kind) {
        case Record::Kind::FeatureGet:
            line = "get";
            break;
        case Record::Kind::FeatureSet:
            line = "set";
            break;
        case Record::Kind::OutputReport:
        case Record::Kind::InputReport:
            line = record.kind == Record::Kind::OutputReport ? "out" : "in";
            if (record.reportId > AdapterFirmware::UartReportBase &&
                record.reportId <= AdapterFirmware::UartReportBase + 64)
                shown = std::min<std::size_t>(shown, 1u + record.reportId -
                                                         AdapterFirmware::UartReportBase);
            else
                shown = std::min<std::size_t>(shown, 1);
            break;
        }
        char hex[4];
        for (std::size_t i = 0; i < shown; ++i) {
            std::snprintf(hex, sizeof hex, " %02x", record.bytes[i]);
            line += hex;
        }
        if (!record.succeeded)
            line += " (failed)";
        lines.push_back(std::move(line));
    }
    return lines;
}
