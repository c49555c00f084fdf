#include "hdb/same_entry.h"

#include <algorithm>
#include <string>
#include <vector>

#include "hdb/file_names.h"
#include "platform/directory_listing.h"

namespace foliant::hdb {

bool sameEntry(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (!equalIgnoringCase(a, b)) return false;
    std::vector<std::string> names;
    if (!fs::listCurrentDirectory(names)) return true;
    const auto listed = [&names](std::string_view name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    return !(listed(a) && listed(b));
}

}  // namespace foliant::hdb
