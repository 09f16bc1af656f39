#include "header_cases.h"

#include <cstddef>

namespace {

Bytes withByte(Bytes bytes, std::size_t offset, unsigned char value) {
    bytes.at(offset) = value;
    return bytes;
}

Bytes withTag(Bytes bytes, const char (&tag)[5]) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(4 + i) = static_cast<unsigned char>(tag[i]);
    }
    return bytes;
}

Bytes followedBy(Bytes bytes, const Bytes& rest) {
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

Bytes firstBytes(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

} // namespace

Bytes repairableHeader() {
    return {0x1C, 0x00, 0x00, 0x00, 0x56, 0x52, 0x41, 0x58, 0x02};
}

const std::vector<HeaderCase>& headerCases() {
    const Bytes good = repairableHeader();
    static const std::vector<HeaderCase> cases = {
        {"Repairable", good, true},
        {"RepairableFollowedByFF", followedBy(good, {0xFF, 0xFF, 0xFF}), true},
        {"RepairableFollowedByLineEndsAndEof", followedBy(good, {0x0D, 0x0A, 0x1A, 0x00, 0x0A}),
         true},

        {"AlreadyRepairedVersion3", withByte(good, 8, 0x03), false},
        {"Version0", withByte(good, 8, 0x00), false},
        {"Version1", withByte(good, 8, 0x01), false},
        {"Version4", withByte(good, 8, 0x04), false},
        {"VersionFF", withByte(good, 8, 0xFF), false},

        {"LeadInBigEndianOrder", {0x00, 0x00, 0x00, 0x1C, 0x56, 0x52, 0x41, 0x58, 0x02}, false},
        {"Lead29", withByte(good, 0, 0x1D), false},
        {"LeadLowByteRightHighByteSet", withByte(good, 3, 0x01), false},
        {"LeadSecondByteSet", withByte(good, 1, 0x01), false},

        {"TagLowerCase", withTag(good, "vrax"), false},
        {"TagLastLetterLowerCase", withTag(good, "VRAx"), false},
        {"TagReversed", withTag(good, "XARV"), false},
        {"TagEndsInNul", withTag(good, "VRA\0"), false},
        {"TagWithLeadingSpace", withTag(good, " VRA"), false},

        {"AllZero", Bytes(9, 0x00), false},
        {"Empty", {}, false},
        {"OneByte", firstBytes(good, 1), false},
        {"LeadOnly", firstBytes(good, 4), false},
        {"EightBytesOfRepairableHeader", firstBytes(good, 8), false},
    };
    return cases;
}

void PrintTo(const HeaderCase& headerCase, std::ostream* out) {
    static const char* const digits = "0123456789ABCDEF";
    *out << headerCase.name << " [";
    for (std::size_t i = 0; i < headerCase.bytes.size(); ++i) {
        const unsigned char byte = headerCase.bytes[i];
        *out << (i == 0 ? "" : " ") << digits[byte >> 4U] << digits[byte & 0x0FU];
    }
    *out << "]";
}
