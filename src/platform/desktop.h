// The desktop's two services the interactive mode needs. desktop_posix.cpp
// and desktop_win.cpp implement them; CMake picks one.
#pragma once

#include <string>

namespace foliant::desktop {

// Asks the user for one file to convert; empty when the user cancels. The
// current directory is left at the folder the file was chosen in (the
// Windows dialog does this itself), so the output lands there.
std::string askForFileName();

// Opens `path` with the program associated with its type, without waiting.
void openWithAssociatedProgram(const std::string& path);

}  // namespace foliant::desktop
