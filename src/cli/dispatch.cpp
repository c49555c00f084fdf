#include "cli/dispatch.h"

#include <string>

#include "cli/batch_mode.h"
#include "cli/usage.h"
#include "gui/interactive_mode.h"
#include "hdb/converter.h"

namespace foliant::cli {

bool namesTextFile(std::string_view name) {
    return name.find(".txt") != std::string_view::npos || name.find(".TXT") != std::string_view::npos;
}

RunMode chooseMode(std::span<const char* const> arguments) {
    if (arguments.empty()) return RunMode::interactive;
    const std::string_view first = arguments[0];
    if (namesTextFile(first)) return RunMode::singleFile;
    if (first == "all") return RunMode::batch;
    return RunMode::usage;
}

ExitStatus run(std::span<const char* const> arguments) {
    switch (chooseMode(arguments)) {
        case RunMode::usage: printUsage(); return ExitStatus::failure;
        case RunMode::interactive: return gui::runInteractiveMode();
        case RunMode::singleFile: {
            std::string output;
            return hdb::convertFile(arguments[0], output) ? ExitStatus::success : ExitStatus::failure;
        }
        case RunMode::batch: return runBatchMode();
    }
    return ExitStatus::failure;
}

}  // namespace foliant::cli
