#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/descriptors_posix.h"
#include "platform/launch.h"

// POSIX declares environ in no header; glibc does so in <unistd.h>.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace foliant::launch {
namespace {

// The folder the process started in, opened once, so that relative folder
// names keep their meaning however often the process changes folder.
int startingFolder() {
    static const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return folder;
}

std::vector<char*> argumentVector(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Spawns `words` with standard input from `input` (or the null device when
// it is -1) and standard output into `output` (or the null device).
bool spawn(const std::vector<std::string>& words, bool searchPath, int input, int output, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input < 0) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    else posix_spawn_file_actions_adddup2(&actions, input, 0);
    if (output < 0) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else posix_spawn_file_actions_adddup2(&actions, output, 1);
    std::vector<char*> argv = argumentVector(words);
    const int spawned = searchPath ? ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                                   : ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0;
}

}  // namespace

std::string ownProgram() {
    std::error_code error;
    const std::filesystem::path own = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : own.string();
}

Entered enterFolder(const std::string& folder) {
    (void)startingFolder();
    if (::chdir(folder.c_str()) == 0) return Entered::entered;
    return errno == ENOENT || errno == ENOTDIR || errno == ENODEV || errno == EIO ? Entered::gone : Entered::refused;
}

bool returnToStart() { return startingFolder() >= 0 && ::fchdir(startingFolder()) == 0; }

Ran runProgram(const std::string& program, const std::vector<std::string>& arguments) {
    Ran ran;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return ran;
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    pid_t pid = 0;
    ran.started = spawn(words, false, -1, pipeEnds[1], pid);
    ::close(pipeEnds[1]);
    if (ran.started) posix::readToEnd(pipeEnds[0], ran.output);
    ::close(pipeEnds[0]);
    if (!ran.started) return ran;
    const int status = posix::waitForChild(pid);
    ran.exited = status >= 0 && WIFEXITED(status);
    ran.status = ran.exited ? WEXITSTATUS(status) : status >= 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return ran;
}

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

int runWindowTool(const std::vector<std::string>& command, std::string_view input) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    pid_t pid = 0;
    const bool started = spawn(command, true, pipeEnds[0], -1, pid);
    ::close(pipeEnds[0]);
    if (started) {
        // A tool that reads no input must not stop the launcher with SIGPIPE.
        struct sigaction ignore {};
        struct sigaction before {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &before);
        (void)posix::writeFully(pipeEnds[1], input.data(), input.size());
        ::sigaction(SIGPIPE, &before, nullptr);
    }
    ::close(pipeEnds[1]);
    if (!started) return -1;
    const int status = posix::waitForChild(pid);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string temporaryFile(std::string_view text) {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    if (folder == nullptr || *folder == '\0') folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    std::string path = std::string(folder) + "/foliant-not-converted-XXXXXX";
    const int file = ::mkostemp(path.data(), O_CLOEXEC);
    if (file < 0) return {};
    const bool written = posix::writeFully(file, text.data(), text.size());
    if (::close(file) != 0 || !written) {
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

void printError(std::string_view text) { (void)posix::writeFully(STDERR_FILENO, text.data(), text.size()); }

}  // namespace foliant::launch
