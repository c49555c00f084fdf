#pragma once

#include "hdb/outcome.h"

namespace foliant::cli {

// Converts every entry of the current directory whose name contains ".txt"
// or ".TXT", in listing order, and stops at the first failure.
Outcome runBatchMode();

}  // namespace foliant::cli
