// Names travel through the tool as UTF-8 byte strings, so that the shared
// logic is written once; Windows takes and gives them as UTF-16. These two
// functions are the whole conversion, written out so that both builds test it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace foliant::text {

// Lossless for every name Windows can hold: an unpaired surrogate (which
// Windows allows in names) is carried as its three-byte form, as WTF-8 does,
// so that the name comes back unchanged.
std::string utf16ToUtf8(std::u16string_view utf16);

// The inverse. A malformed byte, which no name from Windows produces,
// becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);

// Bytes of the UTF-8 character that starts at `pos`: at least 1, never past
// the end; a malformed sequence counts byte by byte.
std::size_t utf8CharacterLength(std::string_view name, std::size_t pos);

}  // namespace foliant::text
