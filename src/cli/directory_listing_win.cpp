#include <windows.h>

#include "cli/directory_listing.h"

namespace foliant::cli {

bool listCurrentDirectory(std::vector<std::string>& names) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA("./*.*", &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}

}  // namespace foliant::cli
