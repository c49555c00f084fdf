#include "hdb/file_names.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "hdb/hdb_format.h"
#include "platform/utf16.h"

namespace foliant::hdb {
namespace {

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

PathSyntax posixPathSyntax() { return PathSyntax{false, false, text::utf8CharacterLength}; }

PathSyntax windowsPathSyntax(CharacterLength characterLength) {
    return PathSyntax{true, true, std::move(characterLength), true};
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

bool namesTextFile(std::string_view name) {
    return name.find(".txt") != std::string_view::npos || name.find(".TXT") != std::string_view::npos;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool endsWithHdb(std::string_view name) {
    constexpr std::string_view SUFFIX = ".hdb";
    return name.size() >= SUFFIX.size() && equalIgnoringCase(name.substr(name.size() - SUFFIX.size()), SUFFIX);
}

}  // namespace foliant::hdb
