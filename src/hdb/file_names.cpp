#include "hdb/file_names.h"

#include <vector>

#include "hdb/hdb_format.h"

namespace foliant::hdb {
namespace {

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::size_t utf8CharacterLength(std::string_view name, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(name[pos]);
    std::size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else if (lead >= 0xE0) length = lead <= 0xEF ? 3 : 1;
    else if (lead >= 0xC2) length = 2;
    if (pos + length > name.size()) return 1;
    // A malformed sequence counts byte by byte.
    for (std::size_t i = 1; i < length; ++i)
        if (!isContinuationByte(static_cast<unsigned char>(name[pos + i]))) return 1;
    return length;
}

PathSyntax posixPathSyntax() { return PathSyntax{false, false, utf8CharacterLength}; }

PathSyntax windowsPathSyntax(std::size_t (*characterLength)(std::string_view, std::size_t)) {
    return PathSyntax{true, true, characterLength, true};
}

std::string_view baseName(std::string_view name, const PathSyntax& syntax) {
    std::size_t start = 0;
    if (syntax.driveLetterPrefix && name.size() >= 2 && isDriveLetter(name[0]) && name[1] == ':') start = 2;
    // Walk whole characters: a double-byte character's trail byte is no separator.
    for (std::size_t pos = start; pos < name.size();) {
        const char c = name[pos];
        const std::size_t length = syntax.characterLength(name, pos);
        pos += length;
        if (length == 1 && (c == '/' || (syntax.backslashSeparates && c == '\\'))) start = pos;
    }
    return name.substr(start);
}

std::string_view headerName(std::string_view base, const PathSyntax& syntax) {
    std::size_t end = 0;
    while (end < base.size()) {
        const std::size_t next = end + syntax.characterLength(base, end);
        if (next > MAX_HEADER_NAME_LENGTH) break;
        end = next;
    }
    return base.substr(0, end);
}

std::string outputName(std::string_view base, const PathSyntax& syntax) {
    // Where the fourth-last character starts, if there is one.
    std::size_t fourthLast = base.size();
    if (syntax.outputRuleCountsCharacters) {
        std::vector<std::size_t> starts;
        for (std::size_t pos = 0; pos < base.size(); pos += syntax.characterLength(base, pos)) starts.push_back(pos);
        if (starts.size() >= 4) fourthLast = starts[starts.size() - 4];
    } else if (base.size() >= 4) {
        fourthLast = base.size() - 4;
    }
    std::string name(base);
    if (fourthLast < base.size() && base[fourthLast] == '.') name.resize(fourthLast);
    return name + ".hdb";
}

}  // namespace foliant::hdb
