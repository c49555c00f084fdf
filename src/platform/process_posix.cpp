#include <csignal>

#include "platform/process.h"

namespace foliant::process {

void prepare() { (void)std::signal(SIGXFSZ, SIG_IGN); }

bool shellExpandsPatterns() { return true; }

}  // namespace foliant::process
