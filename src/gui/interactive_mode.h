#pragma once

#include <functional>
#include <string>

#include "platform/desktop.h"

namespace foliant::gui {

struct Desktop {
    std::function<desktop::Choice()> askForFileName;
    std::function<void(const std::string&)> open;
};

// How an interactive run ended; the front end turns it into an exit status.
enum class InteractiveOutcome { converted, cancelled, failed };

// Asks for one file, converts it (any name: no .txt test here) and hands the
// output to the desktop. A cancel prints nothing; a failed conversion opens
// nothing; a chooser that could not be shown is a failure with a message.
InteractiveOutcome runInteractiveMode(const Desktop& desktop);

// The same with the platform's dialog and opener.
InteractiveOutcome runInteractiveMode();

}  // namespace foliant::gui
