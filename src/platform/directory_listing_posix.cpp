#include <dirent.h>
#include <cerrno>

#include "platform/directory_listing.h"

namespace foliant::fs {

bool listCurrentDirectory(std::vector<std::string>& names) {
    DIR* directory = ::opendir(".");
    if (directory == nullptr) return false;
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (entry == nullptr) {
            complete = errno == 0;
            break;
        }
        names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    return complete;
}

std::string entryPath(const std::string& name) { return name; }

}  // namespace foliant::fs
