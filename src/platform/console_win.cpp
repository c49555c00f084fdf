#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/windows_text.h"

namespace foliant::console {
namespace {

// Decided once per run. A console takes UTF-16 through its wide interface;
// the ANSI bytes that printf gives it would be shown in the OEM code page.
HANDLE consoleOutput() {
    static const HANDLE console = [] {
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        const bool isConsole = output != nullptr && output != INVALID_HANDLE_VALUE &&
                               GetFileType(output) == FILE_TYPE_CHAR && GetConsoleMode(output, &mode) != 0;
        return isConsole ? output : nullptr;
    }();
    return console;
}

bool writeToConsole(HANDLE console, std::string_view text) {
    // The same characters the text stream would write: every LF as CR LF.
    std::wstring wide;
    for (const wchar_t c : win::widen(text)) {
        if (c == L'\n') wide += L'\r';
        wide += c;
    }
    for (std::size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        if (WriteConsoleW(console, wide.data() + done, count, &written, nullptr) == 0 || written == 0) return done > 0;
        done += written;
    }
    return true;
}

}  // namespace

void print(std::string_view text) {
    const HANDLE console = consoleOutput();
    if (console != nullptr && writeToConsole(console, text)) return;
    // Redirected: the ANSI code page's bytes through the text stream, which
    // writes every LF as CR LF, as it always has.
    const std::string bytes = win::toCodePage(win::widen(text), 0);
    (void)std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

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
    print("Press any key to close this window.\n");
    (void)std::fflush(stdout);
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

}  // namespace foliant::console
