// Pieces of the POSIX desktop that the tests check on their own.
#pragma once

#include <string>

namespace foliant::desktop {

// The folder an absolute path's file is in: "/a" for "/a/x.txt", "/" for
// "/x.txt".
std::string folderOf(const std::string& path);

}  // namespace foliant::desktop
