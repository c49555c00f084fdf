#include "gui/interactive_mode.h"

#include <cstdio>

namespace foliant::gui {

cli::ExitStatus runInteractiveMode() {
    std::printf("error: interactive mode is not available in this build\r\n");
    return cli::ExitStatus::failure;
}

}  // namespace foliant::gui
