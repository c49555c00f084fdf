#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/descriptors_posix.h"
#include "platform/desktop.h"
#include "platform/desktop_posix.h"

// POSIX declares environ in no header; glibc does so in <unistd.h>.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace foliant::desktop {
namespace {

#ifdef __APPLE__
constexpr const char* OPENER = "open";
#else
constexpr const char* OPENER = "xdg-open";
#endif

constexpr const char* CHOOSER_TITLE = "Open a text file to convert";

// The desktop's file choosers, in order of preference, each opening in
// `folder` with the text filter selected; each prints the chosen path and
// ends with status 1 for a cancel.
std::vector<std::vector<std::string>> chooserCommands(const std::string& folder) {
    // zenity takes a folder only with a trailing slash; otherwise it would
    // propose the folder's name as a file of its parent.
    const std::string inFolder = folder.ends_with('/') ? folder : folder + "/";
    return {
        {"zenity", "--file-selection", std::string("--title=") + CHOOSER_TITLE, "--filename=" + inFolder,
         "--file-filter=Text Document Files (*.txt) | *.txt", "--file-filter=All Files (*.*) | *"},
        {"kdialog", "--title", CHOOSER_TITLE, "--getopenfilename", folder,
         "*.txt|Text Document Files (*.txt)\n*|All Files (*.*)"},
    };
}

std::string currentFolder() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::string(".") : current.string();
}

enum class Answer { chosen, cancelled, unavailable };

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Runs a chooser with an argument vector (no shell) and reads the path it
// prints. Its standard error goes to a file of no name: a chooser that
// cannot open the display ends as a cancel does, and only says so there.
Answer runChooser(const std::vector<std::string>& command, std::string& chosen) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return Answer::unavailable;
    FILE* errors = std::tmpfile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    if (errors != nullptr) posix_spawn_file_actions_adddup2(&actions, ::fileno(errors), 2);
    else posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string printed;
    if (spawned == 0) posix::readToEnd(pipeEnds[0], printed);
    ::close(pipeEnds[0]);
    const int status = spawned == 0 ? posix::waitForChild(pid) : -1;
    std::string said;
    if (errors != nullptr) {
        if (::lseek(::fileno(errors), 0, SEEK_SET) == 0) posix::readToEnd(::fileno(errors), said);
        (void)std::fclose(errors);
    }
    if (status < 0 || !WIFEXITED(status)) return Answer::unavailable;
    if (said.find("open display") != std::string::npos) return Answer::unavailable;
    if (WEXITSTATUS(status) == 1) return Answer::cancelled;
    if (WEXITSTATUS(status) != 0) return Answer::unavailable;
    if (!printed.empty() && printed.back() == '\n') printed.pop_back();
    chosen = printed;
    return chosen.empty() ? Answer::cancelled : Answer::chosen;
}

// Standard input can answer the terminal question: a terminal, a pipe or a
// file, not the null device or a closed descriptor.
bool inputCanAnswer() {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) return false;
    return ::isatty(STDIN_FILENO) != 0 || S_ISFIFO(st.st_mode) || S_ISREG(st.st_mode) || S_ISSOCK(st.st_mode);
}

// One line from standard input; an empty line or the end of input is a cancel.
std::string askOnTerminal() {
    if (::isatty(STDIN_FILENO) != 0) {
        console::print("File to convert: ");
    }
    std::string line;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string absolutePath(const std::string& name) {
    if (name.starts_with('/')) return name;
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? name : (current / name).string();
}

}  // namespace

std::string folderOf(const std::string& path) { return path.substr(0, std::max<std::size_t>(path.rfind('/'), 1)); }

Choice askForFileName() {
    Choice choice{Choice::chosen, {}};
    bool shown = false;
    bool chooserFailed = false;
    if (hasDisplay()) {
        for (const auto& chooser : chooserCommands(currentFolder())) {
            const Answer answer = runChooser(chooser, choice.path);
            if (answer == Answer::cancelled) return Choice{Choice::cancelled, {}};
            shown = answer == Answer::chosen;
            if (shown) break;
        }
        chooserFailed = !shown;
    }
    // A chooser that cannot be shown is no cancel: ask as if there were no
    // display, where something can answer.
    if (!shown) {
        if (chooserFailed && !inputCanAnswer()) return Choice{Choice::unavailable, {}};
        choice.path = askOnTerminal();
    }
    if (choice.path.empty()) return Choice{Choice::cancelled, {}};
    // As the Windows dialog does: the chosen file's folder becomes current,
    // so the output lands beside the file.
    choice.path = absolutePath(choice.path);
    if (::chdir(folderOf(choice.path).c_str()) != 0) {
        // The name may not exist; the converter then says so.
    }
    return choice;
}

void openWithAssociatedProgram(const std::string& path) {
    // An absolute path: a bare name starting with '-' would read as an option.
    const std::string target = absolutePath(path);
    // Two forks: the opener runs in a session of its own, is never waited
    // for, and leaves no zombie behind; its streams do not hold ours open.
    const pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            for (int stream = 0; stream <= 2; ++stream) ::dup2(null, stream);
            if (null > 2) ::close(null);
            ::execlp(OPENER, OPENER, target.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(0);
    }
    (void)posix::waitForChild(child);
}

}  // namespace foliant::desktop
