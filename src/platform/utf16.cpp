#include "platform/utf16.h"

#include <cstdint>

namespace foliant::text {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t code) {
    const auto byte = [&out](char32_t value) { out += static_cast<char>(static_cast<unsigned char>(value)); };
    if (code < 0x80) {
        byte(code);
    } else if (code < 0x800) {
        byte(0xC0 | (code >> 6));
        byte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        byte(0xE0 | (code >> 12));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    } else {
        byte(0xF0 | (code >> 18));
        byte(0x80 | ((code >> 12) & 0x3F));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    }
}

// Decodes the sequence at `pos` and advances past it; a malformed byte is
// taken alone. Surrogate code points are accepted, for the WTF-8 round trip.
char32_t decodeUtf8(std::string_view in, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(in[pos++]);
    std::size_t extra = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80) return lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, code = lead & 0x07, least = 0x10000;
    } else {
        return REPLACEMENT;
    }
    if (pos + extra > in.size()) return REPLACEMENT;
    for (std::size_t i = 0; i < extra; ++i) {
        const auto next = static_cast<unsigned char>(in[pos + i]);
        if ((next & 0xC0) != 0x80) return REPLACEMENT;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF) return REPLACEMENT;  // overlong, or past Unicode
    pos += extra;
    return code;
}

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

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

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (isHighSurrogate(code) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (char32_t{utf16[i + 1]} - 0xDC00);
            ++i;
        }
        appendUtf8(out, code);
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t code = decodeUtf8(utf8, pos);
        if (code < 0x10000) {
            out += static_cast<char16_t>(code);
        } else {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return out;
}

}  // namespace foliant::text
