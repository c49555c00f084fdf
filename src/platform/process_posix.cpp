#include <csignal>

#include "platform/process.h"

namespace foliant::process {
namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,    SIGPIPE, SIGQUIT, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

// The outermost hold blocks the signals and the last release restores the
// mask it found.
unsigned heldDepth = 0;
sigset_t maskBeforeHold;

}  // namespace

void prepare() { (void)std::signal(SIGXFSZ, SIG_IGN); }

std::span<const int> catchableEndingSignals() { return ENDING_SIGNALS; }

SignalsHeld::SignalsHeld() {
    if (heldDepth++ > 0) return;
    sigset_t set;
    ::sigemptyset(&set);
    for (const int number : ENDING_SIGNALS) ::sigaddset(&set, number);
    ::sigprocmask(SIG_BLOCK, &set, &maskBeforeHold);
}

SignalsHeld::~SignalsHeld() {
    if (--heldDepth == 0) ::sigprocmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

}  // namespace foliant::process
