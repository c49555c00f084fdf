#pragma once

#include "cli/exit_status.h"

namespace foliant::gui {

// Asks for one file, converts it and opens the result with its program.
cli::ExitStatus runInteractiveMode();

}  // namespace foliant::gui
