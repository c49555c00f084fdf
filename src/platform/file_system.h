// The converter's whole view of the operating system: a file handle and a
// few plain functions. file_system_posix.cpp and file_system_win.cpp
// implement it; CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
    bool openForReading(const std::string& path);

    bool size(std::uint64_t& out) const;
    bool id(FileId& out) const;
    // Reads `count` bytes from the current position; false on a read error
    // or when the file ends first.
    bool readExactly(void* buffer, std::size_t count);
    // All of `count` or failure: a short write is a failure.
    bool writeAll(const void* buffer, std::size_t count);
    // Reports errors that surface only at close.
    bool close();
    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_ = -1;
};

// A new file that takes its name only once it is complete, so that a run
// stopped at any point leaves nothing behind.
//
//   empty --create()--> pending --writeAll()--> pending
//   pending --commit()--> empty: the file has its name (committed), or nothing
//                         of it is left (notWritten, notPlaced)
//   pending --discard() or destructor--> empty, nothing of it left
//
// While pending, the file has no name others see: Linux keeps it unnamed
// (O_TMPFILE); Windows marks it for deletion, which the system carries out
// however the process ends. Elsewhere, and where those are refused, it has a
// hidden temporary name that every catchable ending signal removes before
// the process ends by the same signal; SIGKILL or a power cut there leaves
// it, for sweepDebris() to remove. It is locked for its whole life (flock;
// on Windows, opened without sharing), which tells it from such debris. One
// at a time per process: the signal handlers know one name.
//
// commit() makes the data durable before the name is taken, gives the file
// the permissions (POSIX: mode, group, access ACL; Windows: DACL) of the
// earlier output it replaces, and knows every write error before it
// replaces anything.
class PendingFile {
public:
    PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Creates the file that is to become `name`, a name in the current folder.
    bool create(const std::string& name);
    // All of `count` or failure, as File::writeAll.
    bool writeAll(const void* buffer, std::size_t count);

    enum class CommitResult {
        committed,
        notWritten,  // closing reported that data was lost
        notPlaced,   // it could not take its name
    };
    // Closes the file and gives it its name, replacing a file of that name in
    // one step. On failure nothing of it is left.
    CommitResult commit();
    // Closes and removes it.
    void discard();

private:
    struct State;  // each platform's own, in its file_system_*.cpp
    std::unique_ptr<State> state_;
};

// For the platform files: a hidden name for a temporary file in the current
// folder, ".foliant-", 12 random hex digits and ".tmp", fresh each time.
std::string freshTemporaryName();
// Exactly such a name.
bool isTemporaryName(std::string_view name);

// Makes the names given in the current folder durable (POSIX: an fsync of
// the folder). False when the system reports that it could not.
bool syncCurrentFolder();

struct SweepResult {
    int removed = 0;
    bool locksUnsupported = false;  // nothing can tell debris here, so nothing was removed
};
// Removes the temporary files of earlier runs among `names`, entries of the
// current folder: regular files with a temporary name whose owner is gone
// (they can be locked, or opened without sharing, now). Follows no link.
SweepResult sweepDebris(const std::vector<std::string>& names);

}  // namespace foliant::fs
