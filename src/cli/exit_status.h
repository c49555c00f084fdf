// The one place an outcome becomes the process's exit status.
#pragma once

#include "hdb/outcome.h"

namespace foliant::cli {

// Every failure, a cancel and the usage text end with 1, because callers and
// scripts rely on no other value.
constexpr int exitStatusOf(Outcome outcome) { return outcome == Outcome::succeeded ? 0 : 1; }

}  // namespace foliant::cli
