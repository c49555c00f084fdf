// The HDB container layout: a fixed header, a block table with one entry per
// block, the info block, then the text blocks, each behind a length prefix.
// Every multi-byte integer is unsigned little-endian. Writer and tests share
// these constants so the layout is stated once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace foliant::hdb {

inline constexpr std::size_t TEXT_BLOCK_SIZE = 1024;
inline constexpr std::size_t HEADER_SIZE = 92;
inline constexpr std::size_t BLOCK_TABLE_ENTRY_SIZE = 16;
inline constexpr std::size_t INFO_RECORD_SIZE = 16;
inline constexpr std::size_t INFO_BLOCK_SIZE = 1 + INFO_RECORD_SIZE;  // prefix 0x21 + record

// The header's name field holds at most 31 bytes and a terminating zero.
inline constexpr std::size_t NAME_FIELD_SIZE = 32;
inline constexpr std::size_t MAX_HEADER_NAME_LENGTH = NAME_FIELD_SIZE - 1;
inline constexpr std::size_t MARKER_FIELD_SIZE = 32;
inline constexpr std::string_view MARKER = ".o0O0o.";

inline constexpr std::uint16_t HEADER_WORD = 0x8938;
inline constexpr std::uint16_t ENTRY_WORD = 1;
inline constexpr std::uint16_t INFO_WORD = 1;

// The info record's block count is 16 bits wide, which caps the text size.
inline constexpr std::size_t MAX_TEXT_BLOCKS = 0xFFFF;
inline constexpr std::uint64_t MAX_TEXT_SIZE = std::uint64_t{MAX_TEXT_BLOCKS} * TEXT_BLOCK_SIZE;

// Field offsets inside the header.
inline constexpr std::size_t HEADER_NAME_OFFSET = 0;
inline constexpr std::size_t HEADER_MARKER_OFFSET = 32;
inline constexpr std::size_t HEADER_WORD_OFFSET = 64;
inline constexpr std::size_t HEADER_RECORD_COUNT_OFFSET = 88;

struct HdbHeader {
    std::array<char, NAME_FIELD_SIZE> name{};  // zero-terminated, zero-padded
    std::uint32_t recordCount = 0;             // blocks in the file, info block included
};

struct BlockTableEntry {
    std::uint32_t offset = 0;  // absolute position of the block's length prefix
};

struct InfoBlock {
    std::uint32_t textSize = 0;
    std::uint16_t textBlockCount = 0;
    std::uint16_t textBlockSize = TEXT_BLOCK_SIZE;
};

// A text block's payload never exceeds 1024 bytes, so its prefix is 1 or 2 bytes.
inline constexpr std::size_t MAX_PREFIX_LENGTH = 2;
using LengthPrefix = std::array<std::uint8_t, MAX_PREFIX_LENGTH>;

// Encodes `value` as a length prefix into `out`: 7-bit groups, least
// significant first, each shifted left by one; bit 0 marks the last byte.
// Returns the number of bytes used. `out` must hold lengthPrefixSize(value).
std::size_t encodeLengthPrefix(std::uint32_t value, std::uint8_t* out);
std::size_t lengthPrefixSize(std::uint32_t value);

// Where every block of a file with `textSize` bytes of text goes. Computed
// from the size alone, before any text is read.
class BlockPlan {
public:
    explicit BlockPlan(std::uint64_t textSize);

    std::uint64_t textSize() const { return textSize_; }
    std::uint32_t recordCount() const { return recordCount_; }
    std::uint32_t textBlockCount() const { return recordCount_ - 1; }
    // k counts text blocks from 1, as block numbers do.
    std::uint32_t payloadLength(std::uint32_t k) const;
    std::uint32_t blockOffset(std::uint32_t block) const;
    std::uint64_t fileSize() const;

private:
    std::uint64_t textSize_;
    std::uint32_t recordCount_;
    std::uint32_t lastPayload_;
};

// Fixed-size encodings of the records, exactly as the file stores them.
std::array<std::uint8_t, HEADER_SIZE> encodeHeader(const HdbHeader& header);
std::array<std::uint8_t, BLOCK_TABLE_ENTRY_SIZE> encodeTableEntry(const BlockTableEntry& entry);
std::array<std::uint8_t, INFO_BLOCK_SIZE> encodeInfoBlock(const InfoBlock& info);

// The header for a text of the plan's shape; `name` is cut to the field.
HdbHeader makeHeader(std::string_view name, const BlockPlan& plan);

// Header, block table and info block for the plan: everything before block 1.
std::vector<std::uint8_t> encodeFront(std::string_view name, const BlockPlan& plan);

}  // namespace foliant::hdb
