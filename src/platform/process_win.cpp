#include "platform/process.h"

namespace foliant::process {

void prepare() {}

bool shellExpandsPatterns() { return false; }

}  // namespace foliant::process
