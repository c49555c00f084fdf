#include <cstdio>

#include "platform/console.h"

namespace foliant::console {

void print(std::string_view text) { (void)std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace foliant::console
