#include <windows.h>

#include <atomic>

#include "platform/process.h"

namespace foliant::process {
namespace {

// Ctrl+C, Ctrl+Break and closing the console arrive on a thread of their
// own. While a hold lasts, that thread waits; then the system's own handling
// ends the process, and no new hold begins.
std::atomic<unsigned> heldDepth{0};
std::atomic<bool> ending{false};

BOOL WINAPI waitWhileHeld(DWORD /*event*/) {
    ending.store(true);
    while (heldDepth.load() != 0) Sleep(1);
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
