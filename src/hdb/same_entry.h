// Whether two names in the current folder name one entry.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

namespace foliant::hdb {

// Whether the current folder lists a name, spelled exactly so; empty when
// the folder cannot be listed.
using ListedCheck = std::function<std::optional<bool>(std::string_view name)>;

// Spelled alike, or alike but for case where the folder lists only one of
// the two spellings. Such a folder ignores case, and its driver may number
// the file once per spelling (exFAT and FAT through FUSE), so the numbers
// cannot tell. When the folder cannot be listed, any two spellings alike
// but for case count as one: no risk is taken.
bool sameEntry(std::string_view a, std::string_view b, const ListedCheck& listed);

// The same, with the folder listed anew for the question.
bool sameEntry(std::string_view a, std::string_view b);

}  // namespace foliant::hdb
