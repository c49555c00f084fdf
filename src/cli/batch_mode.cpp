#include "cli/batch_mode.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/directory_listing.h"
#include "cli/dispatch.h"
#include "hdb/converter.h"

namespace foliant::cli {

ExitStatus runBatchMode() {
    // The whole listing is read first, so files this run creates are never
    // taken by it.
    std::vector<std::string> names;
    if (!listCurrentDirectory(names)) {
        std::printf("error: cannot list the current directory\r\n");
        return ExitStatus::failure;
    }
    for (const std::string& name : names) {
        // Outputs are skipped: converting one would replace it by a wrapped
        // copy of itself.
        const bool isOutput = name.ends_with(".hdb");
        if (!namesTextFile(name) || isOutput) continue;
        std::string output;
        if (!hdb::convertFile(name, output)) return ExitStatus::failure;
    }
    return ExitStatus::success;
}

}  // namespace foliant::cli
