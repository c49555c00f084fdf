// The loops every POSIX caller needs around a descriptor or a child: a write
// or read may take part of what was asked, and any of these calls may be
// interrupted by a signal; the rest must follow.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace foliant::posix {

// False on an error, or when nothing more can be written.
inline bool writeFully(int descriptor, const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t written = ::write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// Appends what `descriptor` gives until its end (or an error) to `into`.
inline void readToEnd(int descriptor, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        into.append(buffer, static_cast<std::size_t>(got));
    }
}

// The child's wait status once it has ended; -1 if it cannot be waited for.
inline int waitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return status;
}

}  // namespace foliant::posix
