#include "gui/interactive_mode.h"

#include "gui/desktop.h"
#include "hdb/converter.h"

namespace foliant::gui {

cli::ExitStatus runInteractiveMode(const Desktop& desktop) {
    const std::string chosen = desktop.askForFileName();
    if (chosen.empty()) return cli::ExitStatus::failure;
    std::string output;
    if (!hdb::convertFile(chosen, output)) return cli::ExitStatus::failure;
    desktop.open(output);
    return cli::ExitStatus::success;
}

cli::ExitStatus runInteractiveMode() { return runInteractiveMode(Desktop{askForFileName, openWithAssociatedProgram}); }

}  // namespace foliant::gui
