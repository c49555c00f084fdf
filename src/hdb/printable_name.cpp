#include "hdb/printable_name.h"

#include <algorithm>

namespace foliant::hdb {
namespace {

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The letter of a short escape, or 0 for one spelled in octal.
char shortEscape(unsigned char byte) {
    switch (byte) {
        case '\a': return 'a';
        case '\b': return 'b';
        case '\t': return 't';
        case '\n': return 'n';
        case '\v': return 'v';
        case '\f': return 'f';
        case '\r': return 'r';
        default: return 0;
    }
}

}  // namespace

std::string printableName(std::string_view name) {
    if (std::none_of(name.begin(), name.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); })) {
        return std::string(name);
    }
    std::string shown = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += c;
        } else if (!isControl(byte)) {
            shown += c;
        } else if (const char letter = shortEscape(byte)) {
            shown += '\\';
            shown += letter;
        } else {
            shown += '\\';
            shown += static_cast<char>('0' + (byte >> 6));
            shown += static_cast<char>('0' + ((byte >> 3) & 7));
            shown += static_cast<char>('0' + (byte & 7));
        }
    }
    return shown + '"';
}

}  // namespace foliant::hdb
