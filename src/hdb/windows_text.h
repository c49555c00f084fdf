// The Windows edge of the name conversion: every *_win.cpp file takes its
// wide strings from here and gives them back here, so there is one copy.
#pragma once

#include <string>
#include <string_view>

namespace foliant::win {

// UTF-8 as the tool carries names -> UTF-16 for the wide ("W") calls.
std::wstring widen(std::string_view utf8);
// UTF-16 from the system -> UTF-8.
std::string narrow(std::wstring_view wide);

}  // namespace foliant::win
