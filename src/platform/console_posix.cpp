#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/console.h"
#include "platform/descriptors_posix.h"

namespace foliant::console {

void print(std::string_view text) {
    // Straight to the descriptor, one write a message: nothing waits in a
    // buffer for an exit that a signal may never let come.
    (void)posix::writeFully(STDOUT_FILENO, text.data(), text.size());
}

ConsoleUse currentConsoleUse() {
    const bool redirected = ::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0;
    // A terminal emulator (or a desktop entry with Terminal=true) starts the
    // program as its session's leader; a shell leads its own session and
    // starts programs inside it.
    const pid_t sessionLeader = ::tcgetsid(STDIN_FILENO);
    const unsigned count = sessionLeader < 0 ? 0U : sessionLeader == ::getpid() ? 1U : 2U;
    return ConsoleUse{count, redirected};
}

void waitForTheUserToClose() {
    print("Press Enter to close this window.\n");
    // Keys pressed before the message was shown do not count.
    (void)::tcflush(STDIN_FILENO, TCIFLUSH);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {}
}

}  // namespace foliant::console
