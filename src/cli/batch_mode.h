#pragma once

#include "cli/exit_status.h"

namespace foliant::cli {

// Converts every entry of the current directory whose name contains ".txt"
// or ".TXT", in listing order, and stops at the first failure.
ExitStatus runBatchMode();

}  // namespace foliant::cli
