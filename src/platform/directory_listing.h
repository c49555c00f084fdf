// The platform's listing of the current directory.
#pragma once

#include <string>
#include <vector>

namespace foliant::fs {

// Every entry's name in the order the platform returns them, hidden ones and
// "." and ".." included, unsorted. False when the directory cannot be listed.
bool listCurrentDirectory(std::vector<std::string>& names);

// The path that opens the entry the listing named `name`, exactly that one:
// on Windows the full path in the \\?\ form, which keeps a trailing dot or
// space that the usual rules drop (e.txt. beside e.txt); elsewhere the name.
std::string entryPath(const std::string& name);

}  // namespace foliant::fs
