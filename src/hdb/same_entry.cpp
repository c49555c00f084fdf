#include "hdb/same_entry.h"

#include <algorithm>
#include <string>
#include <vector>

#include "hdb/file_names.h"
#include "platform/directory_listing.h"

namespace foliant::hdb {

bool sameEntry(std::string_view a, std::string_view b, const ListedCheck& listed) {
    if (a == b) return true;
    if (!equalIgnoringCase(a, b)) return false;
    const std::optional<bool> listedA = listed(a);
    const std::optional<bool> listedB = listed(b);
    if (!listedA || !listedB) return true;
    return !(*listedA && *listedB);
}

bool sameEntry(std::string_view a, std::string_view b) {
    std::vector<std::string> names;
    const bool complete = a != b && equalIgnoringCase(a, b) && fs::listCurrentDirectory(names);
    return sameEntry(a, b, [&](std::string_view name) -> std::optional<bool> {
        if (!complete) return std::nullopt;
        return std::find(names.begin(), names.end(), name) != names.end();
    });
}

}  // namespace foliant::hdb
