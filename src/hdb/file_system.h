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

enum class CreateResult { created, alreadyExists, failed };

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
    // Creates a new file for writing; fails if the name exists.
    CreateResult createNew(const std::string& path);

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
    std::intptr_t handle_ = -1;
};

// Moves `from` over `to`, replacing a file of that name in one step.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);

// Process-wide settings the converter relies on: on POSIX, a write past the
// file-size limit must fail with EFBIG instead of killing the process.
void prepareProcess();

}  // namespace foliant::fs
