#include "content_header.h"

#include <climits>
#include <cstring>

namespace {

using HeaderBytes = std::array<unsigned char, headerSize>;

// Decoded byte by byte, so the result does not depend on the host's byte order.
std::uint32_t decodeLittleEndian32(const unsigned char* bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = sizeof value; i > 0; --i) {
        value = static_cast<std::uint32_t>(value << CHAR_BIT) | bytes[i - 1];
    }
    return value;
}

// The record's field offsets are the file's, so they place each field's bytes.
ContentHeader decodeContentHeader(const HeaderBytes& bytes) {
    ContentHeader header{};
    header.lead = decodeLittleEndian32(&bytes[offsetof(ContentHeader, lead)]);
    std::memcpy(header.tag.data(), &bytes[offsetof(ContentHeader, tag)], header.tag.size());
    header.version = bytes[offsetof(ContentHeader, version)];
    return header;
}

} // namespace

bool readContentHeader(std::FILE* stream, ContentHeader& header) {
    if (stream == nullptr) {
        return false;
    }
    HeaderBytes bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        return false;
    }
    header = decodeContentHeader(bytes);
    return true;
}

bool isRepairable(const ContentHeader& header, bool complete) {
    return complete && header.lead == expectedLead && header.tag == expectedTag &&
           header.version == repairableVersion;
}
