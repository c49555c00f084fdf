// Messages on standard output. Names travel through the tool as UTF-8; on
// Windows a console shows them as typed, and a redirected output gets the
// ANSI code page's bytes, as before. console_posix.cpp and console_win.cpp
// implement it; CMake picks one.
#pragma once

#include <string_view>

namespace foliant::console {

// Writes `text` as formatted printing to standard output would.
void print(std::string_view text);

}  // namespace foliant::console
