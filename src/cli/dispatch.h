// The command line: which mode a run takes, and running it.
#pragma once

#include <span>
#include <string_view>

#include "cli/exit_status.h"

namespace foliant::cli {

enum class RunMode { usage, interactive, singleFile, batch };

// True when `name` contains ".txt" or ".TXT" anywhere; other spellings
// such as ".Txt" do not count.
bool namesTextFile(std::string_view name);

// Only the first argument after the program name counts.
RunMode chooseMode(std::span<const char* const> arguments);

// Runs the mode the arguments choose; `arguments` excludes the program name.
ExitStatus run(std::span<const char* const> arguments);

}  // namespace foliant::cli
