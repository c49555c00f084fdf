// Any text size through the block plan and the front records.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hdb/hdb_format.h"
#include "hdb_reader.h"

using namespace foliant::hdb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t raw = 0;
    std::memcpy(&raw, data, std::min(size, sizeof raw));
    // Up to 1 MiB, so that a run tries many sizes; the largest text has a
    // unit test of its own.
    const std::uint64_t textSize = raw % ((1u << 20) + 1);
    const BlockPlan plan(textSize);

    // Lay out the whole file with zero text (cheap) and let the reader judge it.
    std::vector<std::uint8_t> file = encodeFront("fuzz.txt", plan);
    std::uint64_t payloads = 0;
    for (std::uint32_t k = 1; k < plan.recordCount(); ++k) {
        if (file.size() != plan.blockOffset(k)) std::abort();
        std::uint8_t prefix[MAX_PREFIX_LENGTH];
        const std::size_t prefixLength = encodeLengthPrefix(plan.payloadLength(k), prefix);
        file.insert(file.end(), prefix, prefix + prefixLength);
        file.resize(file.size() + plan.payloadLength(k));
        payloads += plan.payloadLength(k);
    }
    if (payloads != textSize || file.size() != plan.fileSize()) std::abort();
    const auto read = foliant::testing::readHdb(file);
    if (!read.error.empty() || read.text.size() != textSize || read.name != "fuzz.txt") std::abort();
    return 0;
}
