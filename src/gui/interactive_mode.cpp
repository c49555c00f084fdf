#include "gui/interactive_mode.h"

#include "hdb/converter.h"
#include "platform/desktop.h"

namespace foliant::gui {

InteractiveOutcome runInteractiveMode(const Desktop& desktop) {
    const std::string chosen = desktop.askForFileName();
    if (chosen.empty()) return InteractiveOutcome::cancelled;
    std::string output;
    if (!hdb::convertFile(chosen, output)) return InteractiveOutcome::failed;
    desktop.open(output);
    return InteractiveOutcome::converted;
}

InteractiveOutcome runInteractiveMode() {
    return runInteractiveMode(Desktop{desktop::askForFileName, desktop::openWithAssociatedProgram});
}

}  // namespace foliant::gui
