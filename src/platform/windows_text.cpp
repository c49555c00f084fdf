#include "platform/windows_text.h"

#include <windows.h>

#include "platform/utf16.h"

namespace foliant::win {
namespace {

// wchar_t is a UTF-16 code unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

bool isUtf8(unsigned codePage) { return codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8); }

constexpr std::wstring_view VERBATIM_PREFIX = L"\\\\?\\";
constexpr std::wstring_view DEVICE_PREFIX = L"\\\\.\\";

}  // namespace

std::wstring widen(std::string_view utf8) {
    const std::u16string wide = text::utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string narrow(std::wstring_view wide) { return text::utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

std::string toCodePage(std::wstring_view wide, unsigned codePage) {
    if (wide.empty()) return {};
    // The UTF-8 code page holds every character and takes neither the flag
    // nor a replacement character.
    const bool utf8 = isUtf8(codePage);
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* replacement = utf8 ? nullptr : "?";
    const int length = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, replacement, nullptr);
    if (needed <= 0) return std::string(wide.size(), '?');
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(codePage, flags, wide.data(), length, bytes.data(), needed, replacement, nullptr);
    bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return bytes;
}

std::size_t codePageCharacterLength(std::string_view bytes, std::size_t pos, unsigned codePage) {
    if (isUtf8(codePage)) return text::utf8CharacterLength(bytes, pos);
    const bool leadByte = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[pos])) != 0;
    return leadByte && pos + 1 < bytes.size() ? 2 : 1;
}

bool isVerbatimPath(std::wstring_view name) { return name.starts_with(VERBATIM_PREFIX); }

std::wstring verbatimForm(std::wstring_view fullPath) {
    // A device name (\\.\COM1) and a verbatim path already are what the system takes.
    if (isVerbatimPath(fullPath) || fullPath.starts_with(DEVICE_PREFIX)) return std::wstring(fullPath);
    if (fullPath.starts_with(L"\\\\")) return std::wstring(VERBATIM_PREFIX) + L"UNC" + std::wstring(fullPath.substr(1));
    return std::wstring(VERBATIM_PREFIX) + std::wstring(fullPath);
}

std::wstring longPathForm(std::wstring_view fullPath) {
    return fullPath.size() < MAX_PATH ? std::wstring(fullPath) : verbatimForm(fullPath);
}

std::wstring systemPath(std::string_view utf8Name) {
    std::wstring name = widen(utf8Name);
    if (name.empty() || isVerbatimPath(name)) return name;
    // The first call asks for the size with the terminator, the second
    // gives the length without; the path may not have grown in between.
    std::wstring full(GetFullPathNameW(name.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD length =
        full.empty() ? 0 : GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) return name;  // the call fails on the name too
    full.resize(length);
    return longPathForm(full);
}

}  // namespace foliant::win
