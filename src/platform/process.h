// What the process itself needs from the platform, apart from files and the
// console. process_posix.cpp and process_win.cpp implement it; CMake picks one.
#pragma once

#include <span>

namespace foliant::process {

// Process-wide settings the tool relies on: on POSIX, a write past the
// file-size limit must fail with EFBIG instead of killing the process.
void prepare();

// POSIX: every signal whose default action ends the process and that a
// handler can catch. Empty on Windows.
std::span<const int> catchableEndingSignals();

// While one exists, a request to end the process (a catchable signal, Ctrl+C
// or closing the console) waits, and is carried out when the last one goes:
// an output that has taken its name and its "converted." line are one step.
// Nests; the tool runs on one thread.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

}  // namespace foliant::process
