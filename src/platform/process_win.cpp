#include <windows.h>

#include <atomic>

#include "platform/process.h"

namespace foliant::process {
namespace {

// Ctrl+C, Ctrl+Break and closing the console arrive on a thread of their
// own. While a hold lasts, that thread waits, and no new hold begins; then it
// ends the process itself, with the status of a console program stopped by
// Ctrl+C: the system's own ending is not relied on, as Wine's ends it with 0,
// a success. Outputs not yet named are marked for deletion and go with it.
std::atomic<unsigned> heldDepth{0};
std::atomic<bool> ending{false};

BOOL WINAPI waitWhileHeld(DWORD /*event*/) {
    ending.store(true);
    while (heldDepth.load() != 0) Sleep(1);
    (void)TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    // Not reached. TRUE would say the event was handled: the run would go on,
    // and its next hold would wait for ever.
    return FALSE;
}

}  // namespace

void prepare() { (void)SetConsoleCtrlHandler(waitWhileHeld, TRUE); }

std::span<const int> catchableEndingSignals() { return {}; }

SignalsHeld::SignalsHeld() {
    heldDepth.fetch_add(1);
    if (ending.load() && heldDepth.load() == 1) {
        heldDepth.fetch_sub(1);
        Sleep(INFINITE);  // the process is being ended
    }
}

SignalsHeld::~SignalsHeld() { heldDepth.fetch_sub(1); }

}  // namespace foliant::process
