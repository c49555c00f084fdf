#pragma once

#include <functional>
#include <string>

#include "cli/exit_status.h"

namespace foliant::gui {

struct Desktop {
    std::function<std::string()> askForFileName;
    std::function<void(const std::string&)> open;
};

// Asks for one file, converts it (any name: no .txt test here) and hands the
// output to the desktop. A cancel prints nothing; a failed conversion opens
// nothing. Both end with failure.
cli::ExitStatus runInteractiveMode(const Desktop& desktop);

// The same with the platform's dialog and opener.
cli::ExitStatus runInteractiveMode();

}  // namespace foliant::gui
