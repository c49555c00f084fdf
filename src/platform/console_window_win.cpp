#include <windows.h>

#include <cstdio>

#include "platform/console_window.h"

namespace foliant::cli {

namespace {

bool isConsole(DWORD stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

}  // namespace

ConsoleUse currentConsoleUse() {
    // The count comes back even when the list does not fit.
    DWORD processes[2];
    const DWORD count = GetConsoleProcessList(processes, 2);
    return ConsoleUse{count, !isConsole(STD_INPUT_HANDLE) || !isConsole(STD_OUTPUT_HANDLE)};
}

void waitForTheUserToClose() {
    std::printf("Press any key to close this window.\n");
    std::fflush(stdout);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // One key, unechoed and without waiting for Enter, as cmd's "pause"
    // reads it; keys pressed before the message was shown do not count.
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    SetConsoleMode(input, 0);
    FlushConsoleInputBuffer(input);
    wchar_t key = 0;
    DWORD got = 0;
    ReadConsoleW(input, &key, 1, &got, nullptr);
    SetConsoleMode(input, mode);
}

bool shellExpandsPatterns() { return false; }

}  // namespace foliant::cli
