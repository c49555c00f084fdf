#pragma once

#include <functional>
#include <string>

namespace foliant::gui {

struct Desktop {
    std::function<std::string()> askForFileName;
    std::function<void(const std::string&)> open;
};

// How an interactive run ended; the front end turns it into an exit status.
enum class InteractiveOutcome { converted, cancelled, failed };

// Asks for one file, converts it (any name: no .txt test here) and hands the
// output to the desktop. A cancel prints nothing; a failed conversion opens
// nothing.
InteractiveOutcome runInteractiveMode(const Desktop& desktop);

// The same with the platform's dialog and opener.
InteractiveOutcome runInteractiveMode();

}  // namespace foliant::gui
