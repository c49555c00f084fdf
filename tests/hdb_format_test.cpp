#include "hdb/hdb_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "hdb_reader.h"

namespace foliant::hdb {
namespace {

std::vector<std::uint8_t> prefixBytes(std::uint32_t value) {
    std::vector<std::uint8_t> out(lengthPrefixSize(value));
    EXPECT_EQ(encodeLengthPrefix(value, out.data()), out.size());
    return out;
}

TEST(LengthPrefix, EncodesTheKnownValues) {
    const struct {
        std::uint32_t value;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {0, {0x01}},           {1, {0x03}},
        {16, {0x21}},          {100, {0xC9}},
        {127, {0xFF}},         {128, {0x00, 0x03}},
        {452, {0x88, 0x07}},   {1024, {0x00, 0x11}},
        {16383, {0xFE, 0xFF}}, {16384, {0x00, 0x00, 0x03}},
    };
    for (const auto& c : cases) EXPECT_EQ(prefixBytes(c.value), c.bytes) << c.value;
}

TEST(LengthPrefix, EveryPayloadLengthReadsBack) {
    for (std::uint32_t value = 0; value <= TEXT_BLOCK_SIZE; ++value) {
        const auto bytes = prefixBytes(value);
        ASSERT_LE(bytes.size(), MAX_PREFIX_LENGTH);
        std::size_t end = 0;
        std::uint32_t readBack = 0;
        ASSERT_TRUE(foliant::testing::readLengthPrefix(bytes, end, readBack)) << value;
        ASSERT_EQ(readBack, value);
        ASSERT_EQ(end, bytes.size()) << "only the last byte may have bit 0 set";
    }
}

TEST(BlockPlan, SizesAtTheBoundaries) {
    const struct {
        std::uint64_t textSize;
        std::uint32_t recordCount;
        std::uint32_t lastPayload;
        std::uint64_t fileSize;
    } cases[] = {
        {0, 2, 0, 142},
        {1, 2, 1, 143},
        {1023, 2, 1023, 1166},
        {1024, 2, 1024, 1167},
        {1025, 3, 1, 1185},
        {2048, 3, 1024, 2209},
        {2049, 4, 1, 2227},
        {2500, 4, 452, 2679},
        {MAX_TEXT_SIZE, 65536, 1024, 92 + 16 * 65536 + 17 + 65535ull * 1026},
    };
    for (const auto& c : cases) {
        const BlockPlan plan(c.textSize);
        EXPECT_EQ(plan.recordCount(), c.recordCount) << c.textSize;
        EXPECT_EQ(plan.payloadLength(plan.textBlockCount()), c.lastPayload) << c.textSize;
        EXPECT_EQ(plan.fileSize(), c.fileSize) << c.textSize;
        // Each block starts where the one before it ends.
        for (std::uint32_t k = 1; k + 1 < plan.recordCount(); ++k) {
            const std::uint32_t length = plan.payloadLength(k);
            ASSERT_EQ(plan.blockOffset(k + 1), plan.blockOffset(k) + lengthPrefixSize(length) + length);
        }
        EXPECT_EQ(plan.blockOffset(1), plan.blockOffset(0) + INFO_BLOCK_SIZE);
    }
}

}  // namespace
}  // namespace foliant::hdb
