// Whether two names in the current folder name one entry.
#pragma once

#include <string_view>

namespace foliant::hdb {

// Spelled alike, or alike but for case where the folder lists only one of
// the two spellings. Such a folder ignores case, and its driver may number
// the file once per spelling (exFAT and FAT through FUSE), so the numbers
// cannot tell. When the folder cannot be listed, any two spellings alike
// but for case count as one: no risk is taken.
bool sameEntry(std::string_view a, std::string_view b);

}  // namespace foliant::hdb
