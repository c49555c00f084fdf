#include <windows.h>

#include <cstdio>

#include "cli/console.h"

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
    // Keys pressed before the message was shown do not count.
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record{};
        DWORD got = 0;
        if (!ReadConsoleInputW(input, &record, 1, &got) || got == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

bool shellExpandsPatterns() { return false; }

}  // namespace foliant::cli
