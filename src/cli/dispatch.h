// The command line: which mode a run takes, and running it.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "hdb/outcome.h"
#include "platform/console.h"

namespace foliant::cli {

enum class RunMode { usage, interactive, singleFile, batch };

// Only the first argument after the program name counts.
RunMode chooseMode(std::span<const char* const> arguments);

// The names the single-file mode converts, in order: the first argument and
// every further argument that names a text file. Many names arrive at once
// on both systems: on POSIX the shell expands a pattern such as *.txt before
// the tool starts; on Windows Explorer passes every file dropped onto the
// program or its shortcut, or sent to it with "Send to", as full paths.
std::vector<std::string_view> singleFileInputs(std::span<const char* const> arguments);

// A failure in a console window opened just for this run would vanish with
// the window: then the run waits before it ends.
bool waitsBeforeClosing(const console::ConsoleUse& console, Outcome outcome);

// Runs the mode the arguments choose; `arguments` excludes the program name.
Outcome runMode(std::span<const char* const> arguments);

// runMode, then the wait a failure may need; returns the exit status.
int run(std::span<const char* const> arguments);

}  // namespace foliant::cli
