#include "hdb/windows_text.h"

#include "hdb/utf16.h"

namespace foliant::win {

// wchar_t is a UTF-16 code unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring widen(std::string_view utf8) {
    const std::u16string wide = text::utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string narrow(std::wstring_view wide) { return text::utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

}  // namespace foliant::win
