#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/console.h"
#include "platform/windows_text.h"

namespace foliant::console {
namespace {

// Decided once per run. A console takes UTF-16 through its wide interface;
// ANSI bytes written to it would be shown in the OEM code page.
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

// What the C runtime's text stream did: every LF written as CR LF.
template <typename Text>
Text withCrLf(const Text& text) {
    Text out;
    out.reserve(text.size() + 8);
    for (const auto c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool writeToConsole(HANDLE console, std::string_view text) {
    const std::wstring wide = withCrLf(win::widen(text));
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
    // Redirected: the ANSI code page's bytes, one write a message, straight
    // to the handle, so that nothing waits in a buffer.
    const std::string bytes = withCrLf(win::toCodePage(win::widen(text), 0));
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(bytes.size() - done);
        if (WriteFile(output, bytes.data() + done, count, &written, nullptr) == 0 || written == 0) return;
        done += written;
    }
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
