// What the process itself needs from the platform, apart from files and the
// console. process_posix.cpp and process_win.cpp implement it; CMake picks one.
#pragma once

namespace foliant::process {

// Process-wide settings the tool relies on: on POSIX, a write past the
// file-size limit must fail with EFBIG instead of killing the process.
void prepare();

// On POSIX a shell expands patterns such as *.txt into many names before
// the tool starts; on Windows the pattern arrives as typed.
bool shellExpandsPatterns();

}  // namespace foliant::process
