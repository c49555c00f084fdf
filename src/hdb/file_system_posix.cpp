#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "hdb/file_names.h"
#include "hdb/file_system.h"

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

CreateResult File::createNew(const std::string& path) {
    close();
    const int opened = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (opened < 0) return errno == EEXIST ? CreateResult::alreadyExists : CreateResult::failed;
    handle_ = opened;
    return CreateResult::created;
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

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

void prepareProcess() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace foliant::fs

namespace foliant::hdb {
PathSyntax nativePathSyntax() { return posixPathSyntax(); }
}  // namespace foliant::hdb
