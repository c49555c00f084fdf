// The file managers' launcher: libexec/foliant/convert-beside TEXT...
#include <filesystem>
#include <span>
#include <string>

#include "cli/convert_beside.h"
#include "platform/launch.h"

int main(int argc, char** argv) {
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    // foliant is installed at a fixed place beside the launcher's own
    // folder; found from the launcher's file itself, so that a link to it
    // (GNOME Files' scripts) finds it too.
    std::string own = foliant::launch::ownProgram();
    if (own.empty() && !arguments.empty()) own = arguments[0];
    const std::string foliant =
        (std::filesystem::path(own).parent_path() / FOLIANT_FROM_LAUNCHER).lexically_normal().string();
    return foliant::launcher::convertBeside(foliant, arguments.subspan(arguments.empty() ? 0 : 1));
}
