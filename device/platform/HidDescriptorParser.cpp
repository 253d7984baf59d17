#include "device/platform/HidDescriptorParser.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>
#include <vector>

namespace {

enum ItemType : std::uint8_t { MainItem = 0, GlobalItem = 1, LocalItem = 2, ReservedItem = 3 };

namespace MainTag {
constexpr std::uint8_t Input = 0x8;
constexpr std::uint8_t Output = 0x9;
constexpr std::uint8_t Collection = 0xA;
constexpr std::uint8_t Feature = 0xB;
constexpr std::uint8_t EndCollection = 0xC;
} // namespace MainTag

namespace GlobalTag {
constexpr std::uint8_t ReportSize = 0x7;
constexpr std::uint8_t ReportId = 0x8;
constexpr std::uint8_t ReportCount = 0x9;
constexpr std::uint8_t Push = 0xA;
constexpr std::uint8_t Pop = 0xB;
} // namespace GlobalTag

constexpr std::uint8_t LongItemPrefix = 0xFE;

// Only the globals that shape report lengths are kept; the rest (usage page, extents, units)
// do not change a length and are skipped.
struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

enum ReportKind : std::size_t { InputKind = 0, OutputKind = 1, FeatureKind = 2, KindCount = 3 };

HidDescriptorParser::Result failure(std::string message, std::size_t offset) {
    HidDescriptorParser::Result result;
    result.error = std::move(message);
    result.errorOffset = offset;
    return result;
}

std::uint32_t unsignedData(const std::uint8_t* data, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= std::uint32_t(data[i]) << (8 * i);
    return value;
}

std::uint16_t byteLength(std::uint64_t bits) {
    if (bits == 0)
        return 0;
    return static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

} // namespace

HidDescriptorParser::Result HidDescriptorParser::parse(std::span<const std::uint8_t> descriptor) {
    if (descriptor.empty())
        return failure("empty report descriptor", 0);

    Globals globals;
    std::vector<Globals> globalStack;
    std::size_t collectionDepth = 0;
    bool usesIds = false;
    bool dataBeforeFirstId = false;
    std::size_t firstDataOffset = 0;
    // Bits per (kind, report id): a report's fields are spread over many main items.
    std::map<std::pair<std::size_t, std::uint32_t>, std::uint64_t> reportBits;

    std::size_t pos = 0;
    while (pos < descriptor.size()) {
        const std::size_t itemOffset = pos;
        const std::uint8_t prefix = descriptor[pos];

        if (prefix == LongItemPrefix) {
            // Long items carry no defined meaning for lengths; only their extent matters.
            if (descriptor.size() - pos < 3)
                return failure("long item header runs past the end", itemOffset);
            const std::size_t dataSize = descriptor[pos + 1];
            if (descriptor.size() - pos - 3 < dataSize)
                return failure("long item data runs past the end", itemOffset);
            pos += 3 + dataSize;
            continue;
        }

        static constexpr std::array<std::size_t, 4> sizes{0, 1, 2, 4};
        const std::size_t size = sizes[prefix & 0x3];
        const auto type = static_cast<ItemType>((prefix >> 2) & 0x3);
        const std::uint8_t tag = prefix >> 4;
        if (descriptor.size() - pos - 1 < size)
            return failure("item data runs past the end", itemOffset);
        const std::uint32_t value = unsignedData(descriptor.data() + pos + 1, size);
        pos += 1 + size;

        switch (type) {
        case MainItem:
            switch (tag) {
            case MainTag::Input:
            case MainTag::Output:
            case MainTag::Feature: {
                const ReportKind kind = tag == MainTag::Input    ? InputKind
                                        : tag == MainTag::Output ? OutputKind
                                                                 : FeatureKind;
                if (globals.reportId == 0 && !dataBeforeFirstId) {
                    dataBeforeFirstId = true;
                    firstDataOffset = itemOffset;
                }
                // Both factors are below 2^32, so the product fits; the sum is checked per item.
                const std::uint64_t fieldBits =
                    std::uint64_t(globals.reportSize) * std::uint64_t(globals.reportCount);
                std::uint64_t& bits = reportBits[{kind, globals.reportId}];
                if (fieldBits > MaxReportBits || bits + fieldBits > MaxReportBits)
                    return failure("report too long (report size x report count)", itemOffset);
                bits += fieldBits;
                break;
            }
            case MainTag::Collection:
                if (collectionDepth == MaxCollectionDepth)
                    return failure("collections nested too deeply", itemOffset);
                ++collectionDepth;
                break;
            case MainTag::EndCollection:
                if (collectionDepth == 0)
                    return failure("end collection without an open collection", itemOffset);
                --collectionDepth;
                break;
            default:
                break; // reserved main tags carry no report data
            }
            break;

        case GlobalItem:
            switch (tag) {
            case GlobalTag::ReportSize:
                globals.reportSize = value;
                break;
            case GlobalTag::ReportCount:
                globals.reportCount = value;
                break;
            case GlobalTag::ReportId:
                if (value == 0 || value > 0xFF)
                    return failure("report id out of range 1..255", itemOffset);
                globals.reportId = value;
                usesIds = true;
                break;
            case GlobalTag::Push:
                if (globalStack.size() == MaxGlobalStackDepth)
                    return failure("push nested too deeply", itemOffset);
                globalStack.push_back(globals);
                break;
            case GlobalTag::Pop:
                if (globalStack.empty())
                    return failure("pop without push", itemOffset);
                globals = globalStack.back();
                globalStack.pop_back();
                break;
            default:
                break;
            }
            break;

        case LocalItem:
            break; // usages, designators, strings and delimiters don't change lengths

        case ReservedItem:
            return failure("reserved item type", itemOffset);
        }
    }

    if (collectionDepth != 0)
        return failure("collection not closed at the end", descriptor.size());
    // With ids in use every report starts with its id; a field outside any id has no report.
    if (usesIds && dataBeforeFirstId)
        return failure("main item before the first report id", firstDataOffset);

    std::array<std::uint64_t, KindCount> largest{};
    for (const auto& [key, bits] : reportBits)
        largest[key.first] = std::max(largest[key.first], bits);

    Result result;
    result.ok = true;
    result.usesReportIds = usesIds;
    result.caps.InputReportLength = byteLength(largest[InputKind]);
    result.caps.OutputReportLength = byteLength(largest[OutputKind]);
    result.caps.FeatureReportLength = byteLength(largest[FeatureKind]);
    return result;
}
