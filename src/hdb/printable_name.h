// How a message shows a file name.
#pragma once

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

}  // namespace foliant::hdb
