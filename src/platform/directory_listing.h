// The platform's listing of the current directory.
#pragma once

#include <string>
#include <vector>

namespace foliant::fs {

// Every entry's name in the order the platform returns them, hidden ones and
// "." and ".." included, unsorted. False when the directory cannot be listed.
bool listCurrentDirectory(std::vector<std::string>& names);

}  // namespace foliant::fs
