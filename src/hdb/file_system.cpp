// What File does the same way on every platform; the rest is in
// file_system_posix.cpp and file_system_win.cpp.
#include "hdb/file_system.h"

namespace foliant::fs {

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

File::~File() { close(); }

}  // namespace foliant::fs
