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

void appendOctal(std::string& shown, unsigned char byte) {
    shown += '\\';
    shown += static_cast<char>('0' + (byte >> 6));
    shown += static_cast<char>('0' + ((byte >> 3) & 7));
    shown += static_cast<char>('0' + (byte & 7));
}

// The quoted form; with `utf8Only`, bytes outside well-formed UTF-8 are
// escaped too.
std::string quoted(std::string_view name, bool utf8Only) {
    std::string shown = "\"";
    for (std::size_t pos = 0; pos < name.size();) {
        const char c = name[pos];
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t length = byte < 0x80 ? 1 : wellFormedUtf8Length(name, pos);
        if (length > 1 || (length == 0 && !utf8Only)) {
            shown.append(name.substr(pos, length == 0 ? 1 : length));
            pos += length == 0 ? 1 : length;
            continue;
        }
        ++pos;
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += c;
        } else if (length != 0 && !isControl(byte)) {
            shown += c;
        } else if (const char letter = length != 0 ? shortEscape(byte) : '\0') {
            shown += '\\';
            shown += letter;
        } else {
            appendOctal(shown, byte);
        }
    }
    return shown + '"';
}

bool hasControl(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); });
}

bool isUtf8(std::string_view name) {
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t length = wellFormedUtf8Length(name, pos);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::size_t wellFormedUtf8Length(std::string_view text, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    // The second byte's range, which rules out overlong forms, surrogates
    // and code points past U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (pos + length > text.size() || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(at(i))) return 0;
    return length;
}

std::string printableName(std::string_view name) { return hasControl(name) ? quoted(name, false) : std::string(name); }

std::string printableUtf8Name(std::string_view name) {
    return hasControl(name) || !isUtf8(name) ? quoted(name, true) : std::string(name);
}

}  // namespace foliant::hdb
