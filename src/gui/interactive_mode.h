#pragma once

#include <functional>
#include <string>

#include "hdb/outcome.h"
#include "platform/desktop.h"

namespace foliant::gui {

struct Desktop {
    std::function<desktop::Choice()> askForFileName;
    std::function<void(const std::string&)> open;
};

// Asks for one file, converts it (any name: no .txt test here) and hands the
// output to the desktop. A cancel prints nothing; a failed conversion opens
// nothing; a chooser that could not be shown is a failure with a message.
Outcome runInteractiveMode(const Desktop& desktop);

// The same with the platform's dialog and opener.
Outcome runInteractiveMode();

}  // namespace foliant::gui
