#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/unnamed_file.h"

namespace foliant::fs::unnamed {
namespace {

// An unnamed file is named straight from its descriptor (linkat with
// AT_EMPTY_PATH) where the kernel allows its opener that (Linux 6.10 on, or
// a process with CAP_DAC_READ_SEARCH); elsewhere through its entry in /proc.
bool emptyPathRefused = false;

struct ProcPath {
    explicit ProcPath(int fd) { (void)std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd); }
    char text[32];
};

}  // namespace

int create() {
    // Kernels and file systems without O_TMPFILE refuse it (EOPNOTSUPP,
    // EISDIR, EINVAL); any refusal sends the caller to a named file, whose
    // creation then gives the real answer.
    const int opened = ::open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (opened < 0) return -1;
    // Without /proc it could never be named; asked once, /proc stays.
    static const bool procShowsFiles = [opened] {
        struct stat st {};
        return ::lstat(ProcPath(opened).text, &st) == 0;
    }();
    if (!procShowsFiles) {
        ::close(opened);
        return -1;
    }
    return opened;
}

bool link(int fd, const char* name) {
    if (!emptyPathRefused) {
        if (::linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0) return true;
        // ENOENT: not allowed to this process; EINVAL: a kernel without the flag.
        if (errno != ENOENT && errno != EINVAL) return false;
        emptyPathRefused = true;
    }
    return ::linkat(AT_FDCWD, ProcPath(fd).text, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace foliant::fs::unnamed
