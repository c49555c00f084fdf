// The entry on Windows: wmain (linked with -municode) takes the arguments as
// UTF-16, split by the same rules as the narrow ones, so no name is carried
// through the ANSI code page and its best-fit guesses.
#include <span>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "platform/process.h"
#include "platform/windows_text.h"

// The C runtime of MinGW-w64 can expand wildcards in the arguments; the
// tool must see "*.txt" as typed, as a Windows console program does.
int _dowildcard = 0;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the runtime reads this name

int wmain(int argc, wchar_t** argv) {
    foliant::process::prepare();
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(argc));
    for (int i = 1; i < argc; ++i) names.push_back(foliant::win::narrow(argv[i]));
    std::vector<const char*> arguments;
    arguments.reserve(names.size());
    for (const std::string& name : names) arguments.push_back(name.c_str());
    return foliant::cli::run(std::span<const char* const>(arguments));
}
