// Files that have no name until they are complete, where the system offers
// them. unnamed_file_linux.cpp has them (O_TMPFILE); unnamed_file_none.cpp,
// for other systems, never has, and file_system_posix.cpp then falls back on
// a named temporary file. CMake picks one.
#pragma once

namespace foliant::fs::unnamed {

// A new regular file in the current folder, open for writing, with no name
// yet; -1 when the system, the file system or the lack of /proc refuses it.
int create();
// Gives the file open as `fd` the name `name`; false with errno set (EEXIST
// when a file has that name).
bool link(int fd, const char* name);

}  // namespace foliant::fs::unnamed
