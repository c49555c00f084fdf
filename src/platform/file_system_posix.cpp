#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/vfs.h>
#include <sys/xattr.h>
#endif
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <vector>

#include "platform/descriptors_posix.h"
#include "platform/file_system.h"
#include "platform/file_system_parts.h"
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

// Every pending file of the process, as the signal handlers see it, in one
// table that PendingFile also keeps its temporary name in. An entry is
// written only while signals are held, so a handler never meets half of it.
//   none: free;
//   unnamed: a pending file without any name (O_TMPFILE): nothing to remove;
//   named: the file has the temporary name `name`, which a handler removes.
constexpr std::sig_atomic_t NONE = 0;
constexpr std::sig_atomic_t UNNAMED = 1;
constexpr std::sig_atomic_t NAMED = 2;
struct Temporary {
    volatile std::sig_atomic_t state = NONE;
    char name[32] = {};  // room for ".foliant-XXXXXXXXXXXX.tmp" and the terminator
};
Temporary temporaries[MAX_PENDING_FILES];

// Only async-signal-safe calls: unlink, signal, raise.
void removeTemporariesAndEnd(int number) {
    for (const Temporary& temporary : temporaries)
        if (temporary.state == NAMED) (void)::unlink(temporary.name);
    (void)::signal(number, SIG_DFL);
    (void)::raise(number);  // held until this returns, then ends the process as the signal would have
}

void installSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndEnd;
    ::sigemptyset(&action.sa_mask);  // a second signal waits for the first to finish
    for (const int number : process::catchableEndingSignals()) ::sigaddset(&action.sa_mask, number);
    for (const int number : process::catchableEndingSignals()) {
        struct sigaction previous {};
        // A signal the caller has us ignore (nohup) stays ignored.
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)
            ::sigaction(number, &action, nullptr);
    }
}

// A free entry, now taken as unnamed; null when all are in use.
Temporary* takeEntry() {
    installSignalHandlers();
    for (Temporary& temporary : temporaries) {
        if (temporary.state == NONE) {
            temporary.state = UNNAMED;
            return &temporary;
        }
    }
    return nullptr;
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

// Gives the file that `make` makes, or links, a fresh temporary name, kept
// in `entry` (then named). False when `make` fails otherwise than because
// the name is taken.
template <typename Make>
bool nameTemporarily(Temporary& entry, Make make) {
    const std::string chosen = parts::withFreshTemporaryName([&entry, &make](const std::string& name) {
        if (name.size() >= sizeof entry.name) return parts::Attempt::failed;
        const process::SignalsHeld held;
        name.copy(entry.name, name.size());
        entry.name[name.size()] = '\0';
        if (make(static_cast<const char*>(entry.name))) {
            entry.state = NAMED;
            return parts::Attempt::made;
        }
        return errno == EEXIST ? parts::Attempt::nameTaken : parts::Attempt::failed;
    });
    return !chosen.empty();
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

// What the file system of a folder's files offers, asked once for them all.
struct FileSystemTraits {
    // One flush for the whole file system: dirty data and metadata of every
    // file on it, unnamed ones too. FUSE passes no such flush on to its
    // daemon, so there each file is synced by itself.
    bool syncsWhole = false;
    // Closing a file may report a write error: file systems that write back
    // at close (NFS, SMB, FUSE). Local disk file systems and tmpfs never do.
    bool closeReports = true;
};

FileSystemTraits traitsOf(int file) {
#if defined(__linux__)
    constexpr unsigned long FUSE_MAGIC = 0x65735546;
    constexpr unsigned long LOCAL_MAGICS[] = {0xEF53 /* ext2-4 */, 0x58465342 /* xfs */, 0x9123683E /* btrfs */,
                                              0x01021994 /* tmpfs */};
    struct statfs system {};
    if (::fstatfs(file, &system) != 0) return FileSystemTraits{};
    const auto type = static_cast<unsigned long>(system.f_type);
    return FileSystemTraits{type != FUSE_MAGIC, std::find(std::begin(LOCAL_MAGICS), std::end(LOCAL_MAGICS), type) ==
                                                    std::end(LOCAL_MAGICS)};
#else
    (void)file;
    return FileSystemTraits{};
#endif
}

bool syncFileSystem(int file) {
#if defined(__linux__)
    return ::syncfs(file) == 0;
#else
    (void)file;
    return false;
#endif
}

// A new file that replaces an earlier output gets what that one had: its
// permission bits, its group where the process may set it, and its access
// ACL. Never setuid, setgid or sticky: the new file may have another owner.
// An output without a predecessor keeps the defaults.
void keepAttributesOf(const std::string& earlier, int file) {
    struct stat st {};
    if (::lstat(earlier.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    // Before the mode, which a change of group may clear; where the process
    // may not set the group, its own stays.
    [[maybe_unused]] const bool groupKept = ::fchown(file, static_cast<uid_t>(-1), st.st_gid) == 0;
    (void)::fchmod(file, st.st_mode & 0777);
#if defined(__linux__)
    constexpr const char* ACCESS_ACL = "system.posix_acl_access";
    const ssize_t size = ::getxattr(earlier.c_str(), ACCESS_ACL, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> acl(static_cast<std::size_t>(size));
    const ssize_t got = ::getxattr(earlier.c_str(), ACCESS_ACL, acl.data(), acl.size());
    if (got > 0) (void)::fsetxattr(file, ACCESS_ACL, acl.data(), static_cast<std::size_t>(got), 0);
#endif
}

}  // namespace

PathStatus inspectPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return PathStatus{errno == ENAMETOOLONG ? PathKind::impossibleName : PathKind::missing, false, FileId{}};
    // access() answers as opening would: root may write to a 0444 file.
    return PathStatus{kindOf(st.st_mode), ::access(path.c_str(), W_OK) != 0, idOf(st)};
}

bool File::openForReading(const std::string& path, FileFacts* facts) {
    close();
    // O_NONBLOCK: a FIFO of that name must not hang the open. It may stay:
    // reading a regular file does not heed it.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0) return false;
    struct stat st {};
    if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(opened);
        return false;
    }
    if (facts != nullptr) *facts = FileFacts{static_cast<std::uint64_t>(st.st_size), idOf(st)};
    handle_ = opened;
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

bool File::atEnd() {
    char more = 0;
    for (;;) {
        const ssize_t got = ::read(fd(handle_), &more, 1);
        if (got < 0 && errno == EINTR) continue;
        return got == 0;
    }
}

bool File::writeAll(const void* buffer, std::size_t count) { return posix::writeFully(fd(handle_), buffer, count); }

bool File::close() {
    if (handle_ < 0) return true;
    const int result = ::close(fd(handle_));
    handle_ = -1;
    return result == 0;
}

struct PendingFile::State {
    Temporary* entry = nullptr;  // its entry in the signal handlers' table while pending
};

PendingFile::State* PendingFile::newState() { return new State(); }

void PendingFile::StateDeleter::operator()(State* state) const { delete state; }

bool PendingFile::writeAll(const void* buffer, std::size_t count) {
    if (!file_.writeAll(buffer, count)) return false;
    // A small output is left to its batch's flush, which writes it anyway:
    // a call per file to start it costs more than it saves. A large one is
    // sent on its way as it is written, so that its flush finds little left.
    constexpr std::uint64_t WRITEBACK_FROM = 1 << 20;
    const std::uint64_t end = written_ + count;
    if (end >= WRITEBACK_FROM) {
        const std::uint64_t from = written_ < WRITEBACK_FROM ? 0 : written_;
        startWriteback(fd(file_.nativeHandle()), from, static_cast<std::size_t>(end - from));
    }
    written_ = end;
    return true;
}

bool PendingFile::create(const std::string& name, bool replacing) {
    discard();
    State& s = *state_;
    name_ = name;
    written_ = 0;
    replacing_ = replacing;
    s.entry = takeEntry();
    if (s.entry == nullptr) return false;
    const int unnamedFile = unnamed::create();
    if (unnamedFile >= 0) {
        // Nobody else can reach it: it is locked only if it ever gets a
        // temporary name.
        file_ = File(unnamedFile);
        return true;
    }
    if (nameTemporarily(*s.entry, [this](const char* temporary) {
            const int opened = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (opened < 0) return false;
            // A sweep may take the new name before the lock does; then it is
            // gone, and the next name is tried.
            if (lockExclusively(opened) == Lock::taken || !stillNamed(opened, temporary)) {
                ::close(opened);
                errno = EEXIST;
                return false;
            }
            file_ = File(opened);
            return true;
        }))
        return true;
    s.entry->state = NONE;
    s.entry = nullptr;
    return false;
}

std::size_t makeDurable(std::span<PendingFile> files) {
    if (files.empty()) return 0;
    const int first = fd(files.front().file_.nativeHandle());
    const FileSystemTraits traits = traitsOf(first);  // the batch shares its folder
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PendingFile& pending = files[i];
        const int file = fd(pending.file_.nativeHandle());
        // Closing a duplicate reports what surfaces only at close, while the
        // file keeps its lock.
        if (traits.closeReports) {
            const int duplicate = ::dup(file);
            if (duplicate >= 0 && ::close(duplicate) != 0) return i;
        }
        // Before the flush, so that it covers them.
        if (pending.replacing_) keepAttributesOf(pending.name_, file);
    }
    // A flush of each file would be a flush of the disk's cache each.
    if (files.size() > 1 && traits.syncsWhole) return syncFileSystem(first) ? files.size() : 0;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (!syncData(fd(files[i].file_.nativeHandle()))) return i;
    return files.size();
}

PendingFile::CommitResult PendingFile::takeName(const ReplaceCheck& mayReplace) {
    State& s = *state_;
    const int file = fd(file_.nativeHandle());
    // Asked only when the name is found taken: a new name costs no call.
    bool asked = false;
    const auto refuses = [&] {
        asked = true;
        return mayReplace && !mayReplace(inspectPath(name_));
    };
    if (s.entry->state == UNNAMED) {
        // Straight by its own name when that is free, else by a temporary
        // name that is at once moved over the file of that name.
        if (unnamed::link(file, name_.c_str())) {
            s.entry->state = NONE;
        } else {
            const int error = errno;
            if (error == EEXIST && refuses()) {
                discard();
                return CommitResult::refused;
            }
            if (error != EEXIST || lockExclusively(file) == Lock::taken ||
                !nameTemporarily(*s.entry, [file](const char* temporary) { return unnamed::link(file, temporary); })) {
                discard();
                return CommitResult::notPlaced;
            }
        }
    }
    if (s.entry->state == NAMED) {
        if (!asked && refuses()) {
            discard();
            return CommitResult::refused;
        }
        const process::SignalsHeld held;
        if (::rename(s.entry->name, name_.c_str()) != 0) {
            discard();
            return CommitResult::notPlaced;
        }
        s.entry->state = NONE;
    }
    s.entry = nullptr;
    // Every error was known before the name was taken; a failing close now
    // must not cost the output that has replaced an earlier one.
    (void)file_.close();
    return CommitResult::committed;
}

void PendingFile::discard() {
    State& s = *state_;
    file_.close();  // an unnamed file goes with it
    if (s.entry == nullptr) return;
    if (s.entry->state == NAMED) {
        const process::SignalsHeld held;
        ::unlink(s.entry->name);
        s.entry->state = NONE;
    }
    s.entry->state = NONE;
    s.entry = nullptr;
}

std::size_t pendingFilesAtOnce() {
    // Each holds a descriptor; leave plenty for everything else.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return MAX_PENDING_FILES;
    const auto allowed = static_cast<std::size_t>(limit.rlim_cur);
    return std::clamp<std::size_t>(allowed > 32 ? (allowed - 32) / 2 : 1, 1, MAX_PENDING_FILES);
}

FolderSync syncCurrentFolder(const std::string& anOutput) {
    // A rename or link is durable only once the folder is.
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        bool synced = true;
        while (::fsync(folder) != 0) {
            // Some file systems cannot sync a folder at all; nothing is lost there.
            if (errno == EINTR) continue;
            synced = errno == EINVAL || errno == EROFS;
            break;
        }
        ::close(folder);
        return synced ? FolderSync::synced : FolderSync::failed;
    }
    // A folder others may write to but not read (a drop box, mode 1733)
    // cannot be opened; its file system can be synced through an output.
    // An output that kept an earlier one's write-only mode opens for writing
    // alone; that descriptor serves as well, and nothing is written.
    constexpr int FLAGS = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int output = ::open(anOutput.c_str(), O_RDONLY | FLAGS);
    if (output < 0 && errno == EACCES) output = ::open(anOutput.c_str(), O_WRONLY | FLAGS);
    if (output < 0) return FolderSync::synced;  // nothing more to ask: as durable as the system keeps names
    const bool synced = !traitsOf(output).syncsWhole || syncFileSystem(output);
    ::close(output);
    return synced ? FolderSync::synced : FolderSync::failed;
}

namespace parts {

Debris removeIfDebris(const std::string& name) {
    // Never through a link, never anything but a regular file.
    const int opened = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (opened < 0) return Debris::kept;
    struct stat st {};
    const Lock lock = ::fstat(opened, &st) == 0 && S_ISREG(st.st_mode) ? lockExclusively(opened) : Lock::taken;
    // Its owner still runs, or this is no debris; or nothing here can tell.
    const bool removed = lock == Lock::held && stillNamed(opened, name.c_str()) && ::unlink(name.c_str()) == 0;
    ::close(opened);
    if (lock == Lock::unsupported) return Debris::cannotTell;
    return removed ? Debris::removed : Debris::kept;
}

}  // namespace parts
}  // namespace foliant::fs
