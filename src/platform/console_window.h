// The console or terminal a run writes to, as far as the platform can tell.
// console_window_posix.cpp and console_window_win.cpp implement it; CMake
// picks one.
#pragma once

namespace foliant::cli {

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

// On POSIX a shell expands patterns such as *.txt into many names before
// the tool starts; on Windows the pattern arrives as typed.
bool shellExpandsPatterns();

}  // namespace foliant::cli
