// What the file managers' launcher needs from the system: its own place,
// the folders it works in, a run of foliant whose lines it reads, and the
// window tools it shows a failure with. POSIX only (launch_posix.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace foliant::launch {

// The launcher's own file, with every link resolved (a link to it in
// GNOME Files' scripts folder, for one): "" when the system cannot say.
std::string ownProgram();

enum class Entered { entered, gone, refused };

// Makes `folder` the current one. gone: it no longer exists (a stick
// pulled out, a folder removed); refused: it exists but may not be entered.
Entered enterFolder(const std::string& folder);
// Makes the folder the process started in the current one again.
bool returnToStart();

struct Ran {
    bool started = false;
    bool exited = false;  // false: ended by a signal
    int status = 0;       // the exit status, or the signal's number
    std::string output;   // everything it wrote to standard output
};

// Runs `program` with `arguments` (an argument vector, no shell) in the
// current folder, with no input, and reads its standard output to the end.
Ran runProgram(const std::string& program, const std::vector<std::string>& arguments);

// A display to show a window on.
bool hasDisplay();

// Runs a window tool (found on PATH) with `input` on its standard input;
// its exit status, or -1 when it did not start or did not end normally.
int runWindowTool(const std::vector<std::string>& command, std::string_view input);

// A new file holding `text`, for a tool that reads only files; its path, or
// "" when none could be made. The caller removes it.
std::string temporaryFile(std::string_view text);
void removeFile(const std::string& path);

// Writes `text` to standard error.
void printError(std::string_view text);

}  // namespace foliant::launch
