#include <windows.h>

#include "platform/directory_listing.h"
#include "platform/system_calls_win.h"
#include "platform/windows_text.h"

namespace foliant::fs {

bool listCurrentDirectory(std::vector<std::string>& names) {
    // The wide search: an ANSI one gives '?' for a character the code page
    // cannot hold, and that name then names no file.
    WIN32_FIND_DATAW found{};
    const win::SystemCalls& calls = win::systemCalls();
    const HANDLE search = calls.findFirst(L"./*.*", &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        names.push_back(win::narrow(found.cFileName));
    } while (calls.findNext(search, &found) != 0);
    // Only this error ends a listing; any other (a network folder gone, a
    // driver's error) leaves it cut short, and part of a folder is not "all".
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}

std::string entryPath(const std::string& name) {
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    const DWORD length = folder.empty() ? 0 : GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size()) return name;
    folder.resize(length);
    // The current folder is a full path already; only the form changes.
    // A drive's root (E:\) ends in its separator, every other folder not.
    folder = win::verbatimForm(folder);
    if (!folder.ends_with(L'\\')) folder += L'\\';
    return win::narrow(folder) + name;
}

}  // namespace foliant::fs
