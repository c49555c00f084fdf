#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "platform/file_system.h"
#include "platform/unnamed_file.h"

namespace foliant::fs {
namespace {

int fd(std::intptr_t handle) { return static_cast<int>(handle); }

PathKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return PathKind::regularFile;
    if (S_ISDIR(mode)) return PathKind::directory;
    return PathKind::other;
}

FileId idOf(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The named temporary file as the signal handler knows it: the name is put
// here before the file is created, and `temporaryExists` says that it is
// there and ours. Room for ".foliant-XXXXXXXXXXXX.tmp" and the terminator.
char signalTemporary[32];
volatile std::sig_atomic_t temporaryExists = 0;

constexpr int REMOVING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Only async-signal-safe calls: unlink, signal, raise.
void removeTemporaryAndEnd(int number) {
    if (temporaryExists != 0) (void)::unlink(signalTemporary);
    (void)::signal(number, SIG_DFL);
    (void)::raise(number);  // held until this returns, then ends the process as the signal would have
}

sigset_t removingSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int number : REMOVING_SIGNALS) ::sigaddset(&set, number);
    return set;
}

void installSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndEnd;
    action.sa_mask = removingSignals();  // a second signal waits for the first to finish
    for (int number : REMOVING_SIGNALS) {
        struct sigaction previous {};
        // A signal the caller has us ignore (nohup) stays ignored.
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)
            ::sigaction(number, &action, nullptr);
    }
}

// Holds the removing signals back while a temporary file and the handler's
// record of it change together.
class SignalsHeld {
public:
    SignalsHeld() {
        const sigset_t set = removingSignals();
        ::sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// Calls `make` with fresh temporary names until it makes a file of one
// (true) or fails otherwise than with EEXIST (false). `chosen` is the
// name made, or empty.
template <typename Make>
bool makeTemporary(std::string& chosen, Make make) {
    installSignalHandlers();
    for (int attempt = 0; attempt < 100; ++attempt) {
        chosen = freshTemporaryName();
        if (chosen.size() >= sizeof signalTemporary) break;
        const SignalsHeld held;
        chosen.copy(signalTemporary, chosen.size());
        signalTemporary[chosen.size()] = '\0';
        if (make(chosen.c_str())) {
            temporaryExists = 1;
            return true;
        }
        if (errno != EEXIST) break;
    }
    chosen.clear();
    return false;
}

}  // namespace

PathStatus inspectPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return PathStatus{errno == ENAMETOOLONG ? PathKind::impossibleName : PathKind::missing, false, FileId{}};
    // access() answers as opening would: root may write to a 0444 file.
    return PathStatus{kindOf(st.st_mode), ::access(path.c_str(), W_OK) != 0, idOf(st)};
}

bool File::openForReading(const std::string& path) {
    close();
    // O_NONBLOCK: a FIFO of that name must not hang the open.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0) return false;
    struct stat st {};
    if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(opened);
        return false;
    }
    ::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK);
    handle_ = opened;
    return true;
}

bool File::size(std::uint64_t& out) const {
    struct stat st {};
    if (::fstat(fd(handle_), &st) != 0) return false;
    out = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::id(FileId& out) const {
    struct stat st {};
    if (::fstat(fd(handle_), &st) != 0) return false;
    out = idOf(st);
    return true;
}

bool File::readExactly(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        const ssize_t got = ::read(fd(handle_), bytes, count);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;  // error, or the file ended early
        bytes += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool File::writeAll(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t written = ::write(fd(handle_), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool File::close() {
    if (handle_ < 0) return true;
    const int result = ::close(fd(handle_));
    handle_ = -1;
    return result == 0;
}

struct PendingFile::State {
    File file;
    std::string name;
    std::string temporary;        // the name it has until commit(), if any
    bool removedOnClose = false;  // unnamed (O_TMPFILE)
};

PendingFile::PendingFile() : state_(std::make_unique<State>()) {}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::writeAll(const void* buffer, std::size_t count) { return state_->file.writeAll(buffer, count); }

bool PendingFile::create(const std::string& name) {
    discard();
    State& s = *state_;
    s.name = name;
    const int unnamedFile = unnamed::create();
    if (unnamedFile >= 0) {
        s.file = File(unnamedFile);
        s.removedOnClose = true;
        return true;
    }
    return makeTemporary(s.temporary, [&s](const char* temporary) {
        const int opened = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (opened >= 0) s.file = File(opened);
        return opened >= 0;
    });
}

PendingFile::CommitResult PendingFile::commit() {
    State& s = *state_;
    // Once it has its name, the last close only confirms what the flush found.
    const auto closePlaced = [&s] {
        if (s.file.close()) return CommitResult::committed;
        ::unlink(s.name.c_str());
        return CommitResult::notWritten;
    };
    if (s.removedOnClose) {
        const int unnamedFile = fd(s.file.nativeHandle());
        // Errors that surface only at close are found while it has no name:
        // closing a duplicate flushes as closing the file does (NFS, FUSE).
        const int duplicate = ::dup(unnamedFile);
        if (duplicate >= 0 && ::close(duplicate) != 0) {
            discard();
            return CommitResult::notWritten;
        }
        // Named only now: straight by its own name when that is free, else by
        // a temporary name that is at once moved over the file of that name.
        const bool placed = unnamed::link(unnamedFile, s.name.c_str());
        if (!placed && (errno != EEXIST || !makeTemporary(s.temporary, [unnamedFile](const char* temporary) {
                            return unnamed::link(unnamedFile, temporary);
                        }))) {
            discard();
            return CommitResult::notPlaced;
        }
        s.removedOnClose = false;
        if (placed) return closePlaced();
    } else if (!s.file.close()) {
        discard();
        return CommitResult::notWritten;
    }
    {
        const SignalsHeld held;
        if (::rename(s.temporary.c_str(), s.name.c_str()) != 0) {
            discard();
            return CommitResult::notPlaced;
        }
        temporaryExists = 0;
        s.temporary.clear();
    }
    return closePlaced();
}

void PendingFile::discard() {
    State& s = *state_;
    s.file.close();  // an unnamed file goes with it
    s.removedOnClose = false;
    if (s.temporary.empty()) return;
    const SignalsHeld held;
    ::unlink(s.temporary.c_str());
    temporaryExists = 0;
    s.temporary.clear();
}

}  // namespace foliant::fs
