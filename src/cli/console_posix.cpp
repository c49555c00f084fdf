#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "cli/console.h"

namespace foliant::cli {

ConsoleUse currentConsoleUse() {
    const bool redirected = !::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO);
    // A terminal emulator (or a desktop entry with Terminal=true) starts the
    // program as its session's leader; a shell leads its own session and
    // starts programs inside it.
    const pid_t sessionLeader = ::tcgetsid(STDIN_FILENO);
    const unsigned count = sessionLeader < 0 ? 0u : sessionLeader == ::getpid() ? 1u : 2u;
    return ConsoleUse{count, redirected};
}

void waitForTheUserToClose() {
    std::printf("Press Enter to close this window.\n");
    std::fflush(stdout);
    // Keys pressed before the message was shown do not count.
    ::tcflush(STDIN_FILENO, TCIFLUSH);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {}
}

bool shellExpandsPatterns() { return true; }

}  // namespace foliant::cli
