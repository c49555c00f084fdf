// The converter's whole view of the operating system: a file handle and a
// few plain functions. file_system_posix.cpp and file_system_win.cpp
// implement it; CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace foliant::fs {

// What makes two names the same file: device (volume) and file number.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

struct FileFacts {
    std::uint64_t size = 0;
    FileId id;
};

// impossibleName: no file can have this name here (it is too long).
enum class PathKind { missing, impossibleName, regularFile, directory, other };

struct PathStatus {
    PathKind kind = PathKind::missing;
    bool readOnly = false;  // this process may not write to it
    FileId id;
};

// Follows symbolic links, as opening the name would.
PathStatus inspectPath(const std::string& path);

// One open file. Move-only; the destructor closes without reporting.
class File {
public:
    File() = default;
    // Takes over an open handle (a file descriptor on POSIX).
    explicit File(std::intptr_t nativeHandle) : handle_(nativeHandle) {}
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens an existing regular file for reading only; never writes to it.
    // `facts`, if given, receives its size and identity.
    bool openForReading(const std::string& path, struct FileFacts* facts = nullptr);

    bool id(FileId& out) const;
    // Reads `count` bytes from the current position; false on a read error
    // or when the file ends first.
    bool readExactly(void* buffer, std::size_t count);
    // True when one more read finds nothing: a file that has more than it
    // measured (one under /proc, or one still growing) is not read whole.
    bool atEnd();
    // All of `count` or failure: a short write is a failure.
    bool writeAll(const void* buffer, std::size_t count);
    // Reports errors that surface only at close.
    bool close();
    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_ = -1;
};

// The most pending files a process may hold at once: the size of the table
// the signal handlers read (POSIX), and a bound well below any descriptor
// limit a system starts with.
constexpr std::size_t MAX_PENDING_FILES = 256;

// A new file that takes its name only once it is complete, so that a run
// stopped at any point leaves nothing behind.
//
//   empty --create()--> pending --writeAll()--> pending
//   pending --commit()--> empty: the file has its name (committed), or nothing
//                         of it is left (notWritten, notPlaced)
//   pending --makeDurable() of its batch, then takeName()--> as commit()
//   pending --discard() or destructor--> empty, nothing of it left
//
// While pending, the file has no name others see: Linux keeps it unnamed
// (O_TMPFILE); Windows marks it for deletion right after creating it, which
// the system carries out however the process ends. Elsewhere, and where those
// are refused, it has a hidden temporary name that every catchable ending
// signal removes before the process ends by the same signal; SIGKILL or a
// power cut there leaves it, for sweepDebris() to remove. It is locked for
// its whole life (flock; on Windows, opened without sharing), which tells it
// from such debris. At most MAX_PENDING_FILES at a time per process.
//
// No file takes its name before its data is durable: after a power cut the
// name holds the earlier output or this one, whole. Every write error is
// known before anything is replaced. A new file gets the permissions (POSIX:
// the 0777 bits, group and access ACL; Windows: DACL) of the earlier output
// it replaces.
class PendingFile {
public:
    PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Creates the file that is to become `name`, a name in the current
    // folder. `replacing`: a file of that name may be there, whose
    // permissions the new one is to take.
    bool create(const std::string& name, bool replacing = true);
    // All of `count` or failure, as File::writeAll.
    bool writeAll(const void* buffer, std::size_t count);
    // The bytes written so far.
    std::uint64_t size() const;
    // The file's identity, which it keeps when it takes its name.
    bool id(FileId& out) const;

    enum class CommitResult {
        committed,
        notWritten,  // closing or syncing reported that data was lost
        notPlaced,   // it could not take its name
        refused,     // its name held a file that `mayReplace` would not give up
    };
    // Asked about the file a name holds, only when it holds one, just before
    // it is replaced: false keeps that file, and this one goes.
    using ReplaceCheck = std::function<bool(const PathStatus& there)>;
    // Makes this one file durable and gives it its name, replacing a file of
    // that name in one step. On failure nothing of it is left.
    CommitResult commit(const ReplaceCheck& mayReplace = {});
    // The same for a file whose batch makeDurable() has made durable.
    CommitResult takeName(const ReplaceCheck& mayReplace = {});
    // Closes and removes it.
    void discard();

    // Makes the data of every file in `files` durable, with one flush where
    // the system has a flush for a whole file system. Returns files.size(),
    // or the index of a file whose data may be lost (0 when the flush cannot
    // tell which): then none of them may take its name. A failed flush is
    // never tried again, since the system may have dropped the data.
    friend std::size_t makeDurable(std::span<PendingFile> files);

private:
    // What each platform keeps besides, in its file_system_*.cpp.
    struct State;
    struct StateDeleter {
        void operator()(State* state) const;
    };
    static State* newState();

    File file_;
    std::string name_;  // the name it is to take
    std::uint64_t written_ = 0;
    bool replacing_ = false;  // a file of that name may be there, whose permissions it takes
    std::unique_ptr<State, StateDeleter> state_;
};

std::size_t makeDurable(std::span<PendingFile> files);

// How many pending files this process may hold at once: MAX_PENDING_FILES,
// or fewer where the descriptor limit is low.
std::size_t pendingFilesAtOnce();

// For the platform files: a hidden name for a temporary file in the current
// folder, ".foliant-", 12 random hex digits and ".tmp", fresh each time.
std::string freshTemporaryName();
// Exactly such a name.
bool isTemporaryName(std::string_view name);

enum class FolderSync {
    synced,  // or the system keeps names durable by itself, or has no means to ask
    failed,  // the system reported an error: the names may not survive a power cut
};
// Makes the names given in the current folder durable (POSIX: an fsync of the
// folder; where the folder cannot be opened, a sync of its file system
// through `anOutput`, a file the run placed there).
FolderSync syncCurrentFolder(const std::string& anOutput);

// Removes the temporary files of earlier runs among `names`, entries of the
// current folder: regular files with a temporary name whose owner is gone
// (they can be locked, or opened without sharing, now). Follows no link.
// Where nothing can tell debris (no locks), nothing is removed.
void sweepDebris(const std::vector<std::string>& names);

}  // namespace foliant::fs
