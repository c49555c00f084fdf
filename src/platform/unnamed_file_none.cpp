// Systems without unnamed files; also linked into the tests' build of the
// tool that takes the named-file path on Linux.
#include <cerrno>

#include "platform/unnamed_file.h"

namespace foliant::fs::unnamed {

int create() { return -1; }

bool link(int /*fd*/, const char* /*name*/) {
    errno = EOPNOTSUPP;
    return false;
}

}  // namespace foliant::fs::unnamed
