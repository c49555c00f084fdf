// Names travel through the tool as UTF-8 byte strings, so that the shared
// logic is written once; Windows takes and gives them as UTF-16. These two
// functions are the whole conversion, written out so that both builds test it.
#pragma once

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

}  // namespace foliant::text
