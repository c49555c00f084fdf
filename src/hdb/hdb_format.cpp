#include "hdb/hdb_format.h"

#include <algorithm>
#include <cassert>

namespace foliant::hdb {
namespace {

void putU16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::size_t lengthPrefixSize(std::uint32_t value) {
    std::size_t size = 1;
    while ((value >>= 7) != 0) ++size;
    return size;
}

std::size_t encodeLengthPrefix(std::uint32_t value, std::uint8_t* out) {
    std::size_t n = 0;
    do {
        out[n++] = static_cast<std::uint8_t>((value & 0x7F) << 1);
        value >>= 7;
    } while (value != 0);
    out[n - 1] |= 1;
    return n;
}

BlockPlan::BlockPlan(std::uint64_t textSize) : textSize_(textSize) {
    assert(textSize <= MAX_TEXT_SIZE);
    // An empty text still gets one (empty) text block.
    const std::uint64_t textBlocks = textSize == 0 ? 1 : (textSize + TEXT_BLOCK_SIZE - 1) / TEXT_BLOCK_SIZE;
    recordCount_ = static_cast<std::uint32_t>(1 + textBlocks);
    const auto rest = static_cast<std::uint32_t>(textSize % TEXT_BLOCK_SIZE);
    lastPayload_ = (rest == 0 && textSize != 0) ? static_cast<std::uint32_t>(TEXT_BLOCK_SIZE) : rest;
}

std::uint32_t BlockPlan::payloadLength(std::uint32_t k) const {
    assert(k >= 1 && k < recordCount_);
    return k == textBlockCount() ? lastPayload_ : static_cast<std::uint32_t>(TEXT_BLOCK_SIZE);
}

std::uint32_t BlockPlan::blockOffset(std::uint32_t block) const {
    assert(block < recordCount_);
    const auto infoOffset = static_cast<std::uint32_t>(HEADER_SIZE + BLOCK_TABLE_ENTRY_SIZE * recordCount_);
    if (block == 0) return infoOffset;
    // Every text block before the last is full, so it takes prefix + 1024 bytes.
    constexpr auto fullBlock = static_cast<std::uint32_t>(2 + TEXT_BLOCK_SIZE);
    return infoOffset + static_cast<std::uint32_t>(INFO_BLOCK_SIZE) + (block - 1) * fullBlock;
}

std::uint64_t BlockPlan::fileSize() const {
    const std::uint32_t last = textBlockCount();
    return std::uint64_t{blockOffset(last)} + lengthPrefixSize(lastPayload_) + payloadLength(last);
}

std::array<std::uint8_t, HEADER_SIZE> encodeHeader(const HdbHeader& header) {
    std::array<std::uint8_t, HEADER_SIZE> out{};
    std::copy(header.name.begin(), header.name.end(), out.begin() + HEADER_NAME_OFFSET);
    out[HEADER_NAME_OFFSET + NAME_FIELD_SIZE - 1] = 0;  // always terminated
    std::copy(MARKER.begin(), MARKER.end(), out.begin() + HEADER_MARKER_OFFSET);
    putU16(&out[HEADER_WORD_OFFSET], HEADER_WORD);
    putU32(&out[HEADER_RECORD_COUNT_OFFSET], header.recordCount);
    return out;
}

std::array<std::uint8_t, BLOCK_TABLE_ENTRY_SIZE> encodeTableEntry(const BlockTableEntry& entry) {
    std::array<std::uint8_t, BLOCK_TABLE_ENTRY_SIZE> out{};
    putU32(out.data(), entry.offset);
    putU16(&out[12], ENTRY_WORD);
    return out;
}

std::array<std::uint8_t, INFO_BLOCK_SIZE> encodeInfoBlock(const InfoBlock& info) {
    std::array<std::uint8_t, INFO_BLOCK_SIZE> out{};
    encodeLengthPrefix(INFO_RECORD_SIZE, out.data());
    putU16(&out[1], INFO_WORD);
    putU32(&out[5], info.textSize);
    putU16(&out[9], info.textBlockCount);
    putU16(&out[11], info.textBlockSize);
    return out;
}

HdbHeader makeHeader(std::string_view name, const BlockPlan& plan) {
    HdbHeader header;
    const std::size_t length = std::min(name.size(), MAX_HEADER_NAME_LENGTH);
    std::copy_n(name.begin(), length, header.name.begin());
    header.recordCount = plan.recordCount();
    return header;
}

std::vector<std::uint8_t> encodeFront(std::string_view name, const BlockPlan& plan) {
    const HdbHeader header = makeHeader(name, plan);
    std::vector<std::uint8_t> front;
    front.reserve(HEADER_SIZE + BLOCK_TABLE_ENTRY_SIZE * plan.recordCount() + INFO_BLOCK_SIZE);
    const auto append = [&front](const auto& bytes) { front.insert(front.end(), bytes.begin(), bytes.end()); };
    append(encodeHeader(header));
    for (std::uint32_t block = 0; block < plan.recordCount(); ++block)
        append(encodeTableEntry({plan.blockOffset(block)}));
    append(
        encodeInfoBlock({static_cast<std::uint32_t>(plan.textSize()), static_cast<std::uint16_t>(plan.textBlockCount()),
                         static_cast<std::uint16_t>(TEXT_BLOCK_SIZE)}));
    return front;
}

}  // namespace foliant::hdb
