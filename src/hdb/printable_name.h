// How a message shows a file name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace foliant::hdb {

// `name` byte for byte, unless it holds a control byte (below 0x20, or
// 0x7F), which could end the line early, forge another line or drive the
// terminal. Such a name is shown in double quotes with C escapes: \n, \t,
// \r, \a, \b, \f, \v, a three-digit octal escape for the other control
// bytes, and \" and \\ for a quote and a backslash. Bytes from 0x80 up
// (UTF-8) are kept.
std::string printableName(std::string_view name);

// The same, for places that take UTF-8 alone (a window, the desktop's
// journal): a name that is not valid UTF-8 is quoted too, each byte of a
// malformed sequence as a three-digit octal escape ("R\351sum\351.txt" for
// Latin-1's "Résumé.txt"). foliant's own messages keep the bytes as they
// are; this is for the file managers' launcher.
std::string printableUtf8Name(std::string_view name);

// Bytes of the well-formed UTF-8 character at `pos` (no overlong form, no
// surrogate, nothing past U+10FFFF), or 0 for a malformed one.
std::size_t wellFormedUtf8Length(std::string_view text, std::size_t pos);

}  // namespace foliant::hdb
