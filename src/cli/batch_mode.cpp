#include "cli/batch_mode.h"

#include <string>
#include <string_view>
#include <vector>

#include "hdb/converter.h"
#include "hdb/file_names.h"
#include "platform/console.h"
#include "platform/directory_listing.h"

namespace foliant::cli {
namespace {

// ".hdb" in any case: on Windows X.TXT.HDB and X.TXT.hdb are one file, and
// on POSIX too a name ending in ".HDB" is an output, not a text.
bool endsWithHdb(std::string_view name) {
    constexpr std::string_view suffix = ".hdb";
    if (name.size() < suffix.size()) return false;
    const std::string_view end = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = end[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != suffix[i]) return false;
    }
    return true;
}

}  // namespace

ExitStatus runBatchMode() {
    // The whole listing is read first, so files this run creates are never
    // taken by it.
    std::vector<std::string> names;
    if (!fs::listCurrentDirectory(names)) {
        console::print("error: cannot list the current directory\r\n");
        return ExitStatus::failure;
    }
    hdb::Session session(names);
    for (const std::string& name : names) {
        // Outputs are skipped: converting one would replace it by a wrapped
        // copy of itself.
        const bool isOutput = endsWithHdb(name);
        if (!hdb::namesTextFile(name) || isOutput) continue;
        std::string output;
        if (!session.convertEntry(name, output)) return ExitStatus::failure;
    }
    return session.finish() ? ExitStatus::success : ExitStatus::failure;
}

}  // namespace foliant::cli
