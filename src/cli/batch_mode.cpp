#include "cli/batch_mode.h"

#include <string>
#include <string_view>
#include <vector>

#include "hdb/converter.h"
#include "hdb/file_names.h"
#include "platform/console.h"
#include "platform/directory_listing.h"

namespace foliant::cli {

Outcome runBatchMode() {
    // The whole listing is read first, so files this run creates are never
    // taken by it.
    std::vector<std::string> names;
    if (!fs::listCurrentDirectory(names)) {
        console::print("error: cannot list the current directory\r\n");
        return Outcome::failed;
    }
    hdb::Session session(names);  // reads the listing where it is: no second copy
    for (const std::string& name : names) {
        // Outputs are skipped, in any case (on Windows X.TXT.HDB and
        // X.TXT.hdb are one file): converting one would replace it by a
        // wrapped copy of itself.
        if (!hdb::namesTextFile(name) || hdb::endsWithHdb(name)) continue;
        std::string output;
        if (!session.convertEntry(name, output)) return Outcome::failed;
    }
    return session.finish() ? Outcome::succeeded : Outcome::failed;
}

}  // namespace foliant::cli
