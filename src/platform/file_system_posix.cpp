#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#include <cerrno>
#include <csignal>
#include <vector>

#include "platform/file_system.h"
#include "platform/process.h"
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

// Only async-signal-safe calls: unlink, signal, raise.
void removeTemporaryAndEnd(int number) {
    if (temporaryExists != 0) (void)::unlink(signalTemporary);
    (void)::signal(number, SIG_DFL);
    (void)::raise(number);  // held until this returns, then ends the process as the signal would have
}

void installSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndEnd;
    ::sigemptyset(&action.sa_mask);  // a second signal waits for the first to finish
    for (const int number : process::catchableEndingSignals()) ::sigaddset(&action.sa_mask, number);
    for (const int number : process::catchableEndingSignals()) {
        struct sigaction previous {};
        // A signal the caller has us ignore (nohup) stays ignored.
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)
            ::sigaction(number, &action, nullptr);
    }
}

enum class Lock { held, taken, unsupported };

// A run holds its temporary file locked for the file's whole life, so that
// another run's sweep can tell it from the debris of a run that is gone.
Lock lockExclusively(int file) {
    while (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? Lock::taken : Lock::unsupported;
    }
    return Lock::held;
}

// `name` still names the file open as `file`.
bool stillNamed(int file, const char* name) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(file, &opened) == 0 && ::lstat(name, &named) == 0 && idOf(opened) == idOf(named);
}

// Calls `make` with fresh temporary names until it makes a file of one
// (true) or fails otherwise than with EEXIST (false). `chosen` is the
// name made, or empty.
template <typename Make>
bool makeTemporary(std::string& chosen, Make make) {
    installSignalHandlers();
    for (int attempt = 0; attempt < 100; ++attempt) {
        chosen = freshTemporaryName();
        if (chosen.size() >= sizeof signalTemporary) break;
        const process::SignalsHeld held;
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

// Starts writing what was just written back to the disk without waiting, so
// that the sync before the name is taken finds little left to do.
void startWriteback(int file, std::uint64_t offset, std::size_t count) {
#if defined(__linux__)
    (void)::sync_file_range(file, static_cast<off64_t>(offset), static_cast<off64_t>(count), SYNC_FILE_RANGE_WRITE);
#else
    (void)file, (void)offset, (void)count;
#endif
}

bool syncData(int file) {
    while (::fdatasync(file) != 0)
        if (errno != EINTR) return false;
    return true;
}

// A new file that replaces an earlier output gets what that one had: its
// permission bits, its group where the process may set it, and its access
// ACL. An output without a predecessor keeps the defaults.
void keepAttributesOf(const std::string& earlier, int file) {
    struct stat st {};
    if (::lstat(earlier.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    // Before the mode, which a change of group may clear; where the process
    // may not set the group, its own stays.
    [[maybe_unused]] const bool groupKept = ::fchown(file, static_cast<uid_t>(-1), st.st_gid) == 0;
    (void)::fchmod(file, st.st_mode & 07777);
#if defined(__linux__)
    constexpr const char* ACCESS_ACL = "system.posix_acl_access";
    const ssize_t size = ::getxattr(earlier.c_str(), ACCESS_ACL, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> acl(static_cast<std::size_t>(size));
    const ssize_t got = ::getxattr(earlier.c_str(), ACCESS_ACL, acl.data(), acl.size());
    if (got > 0) (void)::fsetxattr(file, ACCESS_ACL, acl.data(), static_cast<std::size_t>(got), 0);
#endif
}

// Names the folder's new entries for good: a rename or link is durable only
// once the folder is.
bool syncFolder(const char* folder) {
    const int opened = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) return false;
    bool synced = true;
    while (::fsync(opened) != 0) {
        // Some file systems cannot sync a folder at all; nothing is lost there.
        if (errno == EINTR) continue;
        synced = errno == EINVAL || errno == EROFS;
        break;
    }
    ::close(opened);
    return synced;
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
    std::string temporary;  // the name it has until commit(), if any
    bool unnamed = false;   // O_TMPFILE: no name at all until commit()
    std::uint64_t written = 0;
};

PendingFile::PendingFile() : state_(std::make_unique<State>()) {}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::writeAll(const void* buffer, std::size_t count) {
    State& s = *state_;
    if (!s.file.writeAll(buffer, count)) return false;
    startWriteback(fd(s.file.nativeHandle()), s.written, count);
    s.written += count;
    return true;
}

bool PendingFile::create(const std::string& name) {
    discard();
    State& s = *state_;
    s.name = name;
    s.written = 0;
    const int unnamedFile = unnamed::create();
    if (unnamedFile >= 0) {
        // Locked before it can have any name. Where locks are unsupported,
        // no sweep removes anything either.
        if (lockExclusively(unnamedFile) != Lock::taken) {
            s.file = File(unnamedFile);
            s.unnamed = true;
            return true;
        }
        ::close(unnamedFile);
    }
    return makeTemporary(s.temporary, [&s](const char* temporary) {
        const int opened = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (opened < 0) return false;
        // A sweep may take the new name before the lock does; then it is
        // gone, and the next name is tried.
        if (lockExclusively(opened) == Lock::taken || !stillNamed(opened, temporary)) {
            ::close(opened);
            errno = EEXIST;
            return false;
        }
        s.file = File(opened);
        return true;
    });
}

PendingFile::CommitResult PendingFile::commit() {
    State& s = *state_;
    const int file = fd(s.file.nativeHandle());
    // Durable before named: after a power cut the name holds the earlier
    // output or this one, whole. Closing a duplicate reports what surfaces
    // only at close (NFS, FUSE) while the file keeps its lock.
    const int duplicate = ::dup(file);
    const bool closedWell = duplicate < 0 || ::close(duplicate) == 0;
    if (!closedWell || !syncData(file)) {
        discard();
        return CommitResult::notWritten;
    }
    keepAttributesOf(s.name, file);
    if (s.unnamed) {
        // Straight by its own name when that is free, else by a temporary
        // name that is at once moved over the file of that name.
        const bool placed = unnamed::link(file, s.name.c_str());
        if (!placed && (errno != EEXIST || !makeTemporary(s.temporary, [file](const char* temporary) {
                            return unnamed::link(file, temporary);
                        }))) {
            discard();
            return CommitResult::notPlaced;
        }
        s.unnamed = false;
    }
    if (!s.temporary.empty()) {
        const process::SignalsHeld held;
        if (::rename(s.temporary.c_str(), s.name.c_str()) != 0) {
            discard();
            return CommitResult::notPlaced;
        }
        temporaryExists = 0;
        s.temporary.clear();
    }
    // Every error was known before the name was taken; a failing close now
    // must not cost the output that has replaced an earlier one.
    (void)s.file.close();
    return CommitResult::committed;
}

void PendingFile::discard() {
    State& s = *state_;
    s.file.close();  // an unnamed file goes with it
    s.unnamed = false;
    if (s.temporary.empty()) return;
    const process::SignalsHeld held;
    ::unlink(s.temporary.c_str());
    temporaryExists = 0;
    s.temporary.clear();
}

bool syncCurrentFolder() { return syncFolder("."); }

SweepResult sweepDebris(const std::vector<std::string>& names) {
    SweepResult result;
    for (const std::string& name : names) {
        if (!isTemporaryName(name)) continue;
        // Never through a link, never anything but a regular file.
        const int opened = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (opened < 0) continue;
        struct stat st {};
        const Lock lock = ::fstat(opened, &st) == 0 && S_ISREG(st.st_mode) ? lockExclusively(opened) : Lock::taken;
        // Its owner still runs, or this is no debris; or nothing here can tell.
        if (lock == Lock::held && stillNamed(opened, name.c_str()) && ::unlink(name.c_str()) == 0) ++result.removed;
        ::close(opened);
        if (lock == Lock::unsupported) {
            result.locksUnsupported = true;
            break;
        }
    }
    return result;
}

}  // namespace foliant::fs
