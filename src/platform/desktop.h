// The desktop's two services the interactive mode needs. desktop_posix.cpp
// and desktop_win.cpp implement them; CMake picks one.
#pragma once

#include <string>

namespace foliant::desktop {

struct Choice {
    enum Kind { chosen, cancelled, unavailable } kind;  // unavailable: no chooser could be shown
    std::string path;
};

// Asks the user for one file to convert. The current directory is left at
// the folder the file was chosen in (the Windows dialog does this itself),
// so the output lands there.
Choice askForFileName();

// Opens `path` with the program associated with its type, without waiting.
void openWithAssociatedProgram(const std::string& path);

}  // namespace foliant::desktop
