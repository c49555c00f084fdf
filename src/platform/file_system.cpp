// What File and PendingFile do the same way on every platform; the rest is
// in file_system_posix.cpp and file_system_win.cpp.
#include "platform/file_system.h"

#include <random>
#include <utility>

#include "platform/file_system_parts.h"

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

PendingFile::PendingFile() : state_(newState()) {}

PendingFile::PendingFile(PendingFile&& other) noexcept = default;

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        if (state_) discard();
        file_ = std::move(other.file_);
        name_ = std::move(other.name_);
        written_ = other.written_;
        replacing_ = other.replacing_;
        state_ = std::move(other.state_);
    }
    return *this;
}

PendingFile::~PendingFile() {
    if (state_) discard();
}

std::uint64_t PendingFile::size() const { return written_; }

bool PendingFile::id(FileId& out) const { return file_.id(out); }

PendingFile::CommitResult PendingFile::commit(const ReplaceCheck& mayReplace) {
    if (makeDurable(std::span<PendingFile>(this, 1)) != 1) {
        discard();
        return CommitResult::notWritten;
    }
    return takeName(mayReplace);
}

std::string freshTemporaryName() {
    // Seeded once: "all" may need one of these per text.
    static std::mt19937_64 engine{std::random_device{}()};
    std::string name = ".foliant-";
    std::uint64_t bits = engine();
    for (int i = 0; i < 12; ++i, bits >>= 4) name += "0123456789abcdef"[bits & 15];
    return name + ".tmp";
}

bool isTemporaryName(std::string_view name) {
    constexpr std::string_view PREFIX = ".foliant-";
    constexpr std::string_view SUFFIX = ".tmp";
    constexpr std::size_t DIGITS = 12;
    if (name.size() != PREFIX.size() + DIGITS + SUFFIX.size() || !name.starts_with(PREFIX) || !name.ends_with(SUFFIX))
        return false;
    const std::string_view digits = name.substr(PREFIX.size(), DIGITS);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

void sweepDebris(const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (isTemporaryName(name) && parts::removeIfDebris(name) == parts::Debris::cannotTell) return;
}

namespace parts {

std::string withFreshTemporaryName(const std::function<Attempt(const std::string&)>& make) {
    // Another run's name, or a sweep that took ours before it was locked:
    // a few more names settle it; a hundred taken ones mean something else.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = freshTemporaryName();
        switch (make(name)) {
            case Attempt::made: return name;
            case Attempt::nameTaken: continue;
            case Attempt::failed: return {};
        }
    }
    return {};
}

}  // namespace parts
}  // namespace foliant::fs
