// How a run, or the mode it took, ended. Only the entry turns it into the
// process's exit status (cli/exit_status.h).
#pragma once

namespace foliant {

// A cancel ends with the failure status too, but is no failure the user has
// to read about.
enum class Outcome { succeeded, cancelled, failed };

}  // namespace foliant
