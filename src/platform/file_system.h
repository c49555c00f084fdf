// The converter's whole view of the operating system: a file handle and a
// few plain functions. file_system_posix.cpp and file_system_win.cpp
// implement it; CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

private:
    friend class PendingFile;
    std::intptr_t handle_ = -1;
};

// A new file that takes its name only once it is complete, so that a run
// stopped at any point leaves nothing behind. Linux keeps it unnamed until
// then (O_TMPFILE); Windows marks it for deletion until then, which the
// system carries out however the process ends. Elsewhere, and where those are
// refused, it has a hidden temporary name that SIGINT, SIGTERM, SIGHUP and
// SIGPIPE remove before the process ends by the same signal; SIGKILL there
// leaves it. One at a time per process.
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Discards the file unless it was committed.
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
    File file_;
    std::string name_;
    std::string temporary_;        // the name it has until commit(), if any
    bool removedOnClose_ = false;  // unnamed, or marked for deletion
};

// For the platform files: a hidden name for a temporary file in the current
// folder, ".foliant-", 12 random hex digits and ".tmp", fresh each time.
std::string freshTemporaryName();

// Process-wide settings the converter relies on: on POSIX, a write past the
// file-size limit must fail with EFBIG instead of killing the process.
void prepareProcess();

}  // namespace foliant::fs
