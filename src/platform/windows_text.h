// The Windows edge of the name conversion: every *_win.cpp file takes its
// wide strings from here and gives them back here, so there is one copy.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace foliant::win {

// UTF-8 as the tool carries names -> UTF-16 for the wide ("W") calls.
std::wstring widen(std::string_view utf8);
// UTF-16 from the system -> UTF-8.
std::string narrow(std::wstring_view wide);

// UTF-16 -> the bytes of `codePage` (0, CP_ACP, is the ANSI code page). A
// character the code page cannot hold becomes '?', never a look-alike: a
// "best fit" quote or backslash would change what a name means.
std::string toCodePage(std::wstring_view wide, unsigned codePage);

// Bytes of the character at `pos` of `bytes`, a text in `codePage`: 2 for a
// double-byte character, whose trail byte may look like '\' or '/'.
std::size_t codePageCharacterLength(std::string_view bytes, std::size_t pos, unsigned codePage);

// How a full path, as GetFullPathNameW made it, is given to the file calls:
// unchanged when it is short, in the \\?\ form (\\?\UNC\ for a UNC path)
// once it has MAX_PATH characters or more, which the plain form cannot take.
// Only a normalised path may get that form: the system takes it verbatim.
std::wstring longPathForm(std::wstring_view fullPath);
// The \\?\ form (\\?\UNC\ for a UNC path) of a full path, at any length.
std::wstring verbatimForm(std::wstring_view fullPath);

// True for a name in the \\?\ form already, which the system takes verbatim.
bool isVerbatimPath(std::wstring_view name);

// A name as the wide file calls take it: absolute, normalised by
// GetFullPathNameW (".." and "/", trailing dots and spaces), then
// longPathForm. A name already in the \\?\ form is left as it is.
std::wstring systemPath(std::string_view utf8Name);

}  // namespace foliant::win
