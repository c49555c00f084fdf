// The one console: every byte for standard output, and what the run knows of
// the window it writes to. console_posix.cpp and console_win.cpp implement
// it; CMake picks one. Names travel through the tool as UTF-8; on Windows a
// console shows them as typed, and a redirected output gets the ANSI code
// page's bytes.
#pragma once

#include <string_view>

namespace foliant::console {

// Writes `text` to standard output as formatted printing would, every LF
// written as CR LF on Windows.
void print(std::string_view text);

struct ConsoleUse {
    // Processes attached to the console: 0 for none, 1 when it is this
    // process's own (a window opened just for it), more when others share
    // it. POSIX knows no count: there 1 means the terminal was opened for
    // this process (it leads the terminal's session) and 2 stands for more.
    unsigned processCount;
    // Standard input or output is a file or pipe, not the console.
    bool streamsRedirected;
};

ConsoleUse currentConsoleUse();

// Says on the console how to close it and waits until the user does.
void waitForTheUserToClose();

}  // namespace foliant::console
