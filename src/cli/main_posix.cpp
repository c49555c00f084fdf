#include <span>

#include "cli/dispatch.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
    foliant::fs::prepareProcess();
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    return static_cast<int>(foliant::cli::run(arguments.subspan(arguments.empty() ? 0 : 1)));
}
