// The tests' own HDB reader in C++: parses a whole file and checks every
// invariant of the layout. It shares nothing with the writer but the
// documented numbers, so the two check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace foliant::testing {

struct ReadHdb {
    std::string error;  // empty when the file is sound
    std::string name;
    std::vector<std::uint8_t> text;
};

inline std::uint32_t littleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

// The length prefix at `pos`: bytes up to the one with bit 0 set, 7 bits
// each, least significant first. Moves `pos` past it; false when it runs past
// the end or is longer than any payload length needs.
inline bool readLengthPrefix(const std::vector<std::uint8_t>& bytes, std::size_t& pos, std::uint32_t& value) {
    value = 0;
    for (int shift = 0; pos < bytes.size() && shift <= 14; shift += 7) {
        value |= static_cast<std::uint32_t>(bytes[pos] >> 1) << shift;
        if (bytes[pos++] & 1) return true;
    }
    return false;
}

inline ReadHdb readHdb(const std::vector<std::uint8_t>& file) {
    ReadHdb result;
    const auto fail = [&result](std::string what) {
        result.error = std::move(what);
        return result;
    };
    if (file.size() < 92) return fail("shorter than the header");
    std::size_t nameLength = 0;
    while (nameLength < 32 && file[nameLength] != 0) ++nameLength;
    if (nameLength == 32) return fail("name without terminator");
    for (std::size_t i = nameLength; i < 32; ++i)
        if (file[i] != 0) return fail("bytes after the name");
    result.name.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(nameLength));
    const std::string marker(".o0O0o.");
    for (std::size_t i = 0; i < 32; ++i)
        if (file[32 + i] != (i < marker.size() ? static_cast<std::uint8_t>(marker[i]) : 0)) return fail("marker");
    if (file[64] != 0x38 || file[65] != 0x89) return fail("header word");
    for (std::size_t i = 66; i < 88; ++i)
        if (file[i] != 0) return fail("reserved header bytes");
    const std::uint32_t records = littleEndian(file, 88, 4);
    if (records < 2 || records > 65536) return fail("recordCount");
    std::size_t pos = 92 + std::size_t{16} * records;
    if (file.size() < pos + 17) return fail("table or info block cut short");
    for (std::uint32_t block = 0; block < records; ++block) {
        const std::size_t entry = 92 + std::size_t{16} * block;
        if (littleEndian(file, entry + 4, 4) != 0 || littleEndian(file, entry + 8, 4) != 0 ||
            littleEndian(file, entry + 12, 2) != 1 || file[entry + 14] != 0 || file[entry + 15] != 0)
            return fail("table entry fields");
    }
    if (littleEndian(file, 92, 4) != pos || file[pos] != 0x21) return fail("info block offset or prefix");
    const std::uint32_t textSize = littleEndian(file, pos + 5, 4);
    if (littleEndian(file, pos + 1, 2) != 1 || littleEndian(file, pos + 3, 2) != 0 ||
        littleEndian(file, pos + 9, 2) != records - 1 || littleEndian(file, pos + 11, 2) != 1024 ||
        littleEndian(file, pos + 13, 4) != 0)
        return fail("info record");
    pos += 17;
    for (std::uint32_t block = 1; block < records; ++block) {
        if (littleEndian(file, 92 + std::size_t{16} * block, 4) != pos) return fail("block offset");
        std::uint32_t length = 0;
        if (!readLengthPrefix(file, pos, length)) return fail("length prefix");
        const bool last = block + 1 == records;
        if (last ? length > 1024 : length != 1024) return fail("payload length");
        if (file.size() - pos < length) return fail("payload cut short");
        result.text.insert(result.text.end(), file.begin() + static_cast<std::ptrdiff_t>(pos),
                           file.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;
    }
    if (pos != file.size()) return fail("bytes after the last block");
    if (result.text.size() != textSize) return fail("textSize");
    if (records - 1 != (textSize == 0 ? 1 : (textSize + 1023) / 1024)) return fail("block count for the size");
    return result;
}

}  // namespace foliant::testing
