// The leading bytes of a content file: their layout, the values that make a
// file repairable, and the one byte that the repair rewrites.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#pragma pack(push, 1)
struct ContentHeader {
    std::uint32_t lead;      // little-endian in the file
    std::array<char, 4> tag; // ASCII, no terminator
    std::uint8_t version;
};
#pragma pack(pop)

// The number of leading bytes that are read and compared.
constexpr std::size_t headerSize = 9;

constexpr std::uint32_t expectedLead = 28;
constexpr std::array<char, 4> expectedTag = {'V', 'R', 'A', 'X'};
constexpr std::uint8_t repairableVersion = 2;

// The repair: the byte at versionOffset becomes repairedVersion, nothing else changes.
constexpr long versionOffset = 8;
constexpr std::uint8_t repairedVersion = 3;

static_assert(sizeof(ContentHeader) == headerSize, "the record is the file's nine leading bytes");
static_assert(sizeof(ContentHeader::lead) == 4 && sizeof(ContentHeader::tag) == 4 &&
                  sizeof(ContentHeader::version) == 1,
              "the file format fixes each field's size");
static_assert(offsetof(ContentHeader, tag) == sizeof(ContentHeader::lead) &&
                  offsetof(ContentHeader, version) ==
                      offsetof(ContentHeader, tag) + sizeof(ContentHeader::tag),
              "the fields follow each other without a gap");
static_assert(offsetof(ContentHeader, version) == versionOffset,
              "the repair rewrites the record's version byte");

// Reads the first nine bytes of a stream positioned at the start of a content
// file. Returns true only when all nine were obtained; a null stream (one that
// failed to open) or one that ends early yields false.
bool readContentHeader(std::FILE* stream, ContentHeader& header);

// True only for a complete header whose lead, tag and version all hold the
// expected values exactly.
bool isRepairable(const ContentHeader& header, bool complete);
