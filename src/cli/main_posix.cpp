#include <span>

#include "cli/dispatch.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    foliant::process::prepare();
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    return foliant::cli::run(arguments.subspan(arguments.empty() ? 0 : 1));
}
