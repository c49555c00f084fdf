// The one loop that writes all of a buffer to a descriptor: a write may take
// part of it, or be interrupted by a signal, and the rest must follow.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

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

}  // namespace foliant::posix
