#pragma once

namespace foliant::cli {

// The process's exit status: every failure, a cancel and the usage text end
// with 1, because callers and scripts rely on no other value.
enum class ExitStatus : int {
    success = 0,
    failure = 1,
};

}  // namespace foliant::cli
