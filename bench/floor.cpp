// The least that "all" over a folder of texts can cost with the calls the
// tool must make for each: its text opened, measured and closed, then opened
// again and read to its end; the output's name looked up; the output written
// unnamed (O_TMPFILE); then one syncfs per batch
// of 256, each output linked under its name, and one fsync of the folder.
// No checks, no format, no messages: a bound for bench.py, not a converter.
//
//     floor [once] [writeback]
//
// once: the text opened a single time; writeback: each output's writeback
// started as it is written (sync_file_range), as the tool once did.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    bool openedOnce = false;
    bool writeback = false;
    for (int i = 1; i < argc; ++i) {
        openedOnce = openedOnce || std::strcmp(argv[i], "once") == 0;
        writeback = writeback || std::strcmp(argv[i], "writeback") == 0;
    }
    constexpr std::size_t BATCH = 256;
    constexpr std::size_t FRONT = 179;  // what the output holds besides the text, for a 3 KiB one
    std::vector<char> buffer(1 << 20);
    std::vector<std::pair<int, std::string>> pending;
    const auto completeBatch = [&pending] {
        if (pending.empty()) return;
        (void)::syncfs(pending.front().first);
        for (const auto& [file, name] : pending) {
            (void)::linkat(file, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            (void)::close(file);
        }
        pending.clear();
    };
    DIR* folder = ::opendir(".");
    if (folder == nullptr) return 1;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
        struct stat st {};
        if (!openedOnce) {
            const int measured = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
            (void)::fstat(measured, &st);
            (void)::close(measured);
        }
        const int text = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        (void)::fstat(text, &st);
        const std::string output = name.substr(0, name.size() - 4) + ".hdb";
        struct stat existing {};
        (void)::stat(output.c_str(), &existing);
        const int file = ::open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        const auto size = static_cast<std::size_t>(st.st_size);
        if (text < 0 || file < 0 || size + FRONT > buffer.size()) return 1;
        const ssize_t got = ::read(text, buffer.data() + FRONT, size);
        (void)::read(text, buffer.data(), 1);
        (void)::close(text);
        const auto count = static_cast<std::size_t>(got < 0 ? 0 : got) + FRONT;
        if (::write(file, buffer.data(), count) != static_cast<ssize_t>(count)) return 1;
        if (writeback) (void)::sync_file_range(file, 0, static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
        pending.emplace_back(file, output);
        if (pending.size() == BATCH) completeBatch();
    }
    completeBatch();
    ::closedir(folder);
    const int self = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return ::fsync(self) == 0 ? 0 : 1;
}
