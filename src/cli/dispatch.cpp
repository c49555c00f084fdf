#include "cli/dispatch.h"

#include <new>
#include <string>

#include "cli/batch_mode.h"
#include "cli/exit_status.h"
#include "cli/usage.h"
#include "gui/interactive_mode.h"
#include "hdb/converter.h"
#include "hdb/file_names.h"

namespace foliant::cli {

namespace {

Outcome runSingleFileMode(std::span<const char* const> arguments) {
    hdb::Session session;
    for (const std::string_view input : singleFileInputs(arguments)) {
        std::string output;
        if (!session.convertFile(std::string(input), output)) return Outcome::failed;
    }
    return session.finish() ? Outcome::succeeded : Outcome::failed;
}

}  // namespace

RunMode chooseMode(std::span<const char* const> arguments) {
    if (arguments.empty()) return RunMode::interactive;
    const std::string_view first = arguments[0];
    if (hdb::namesTextFile(first)) return RunMode::singleFile;
    if (first == "all") return RunMode::batch;
    return RunMode::usage;
}

std::vector<std::string_view> singleFileInputs(std::span<const char* const> arguments) {
    std::vector<std::string_view> inputs;
    if (arguments.empty()) return inputs;
    inputs.emplace_back(arguments[0]);
    for (const std::string_view further : arguments.subspan(1))
        if (hdb::namesTextFile(further)) inputs.push_back(further);
    return inputs;
}

bool waitsBeforeClosing(const console::ConsoleUse& console, Outcome outcome) {
    return outcome == Outcome::failed && console.processCount == 1 && !console.streamsRedirected;
}

Outcome runMode(std::span<const char* const> arguments) {
    switch (chooseMode(arguments)) {
        case RunMode::usage: printUsage(); return Outcome::failed;
        case RunMode::interactive: return gui::runInteractiveMode();
        case RunMode::singleFile: return runSingleFileMode(arguments);
        case RunMode::batch: return runBatchMode();
    }
    return Outcome::failed;
}

int run(std::span<const char* const> arguments) {
    Outcome outcome = Outcome::failed;
    try {
        outcome = runMode(arguments);
    } catch (const std::bad_alloc&) {
        // The unwinding has discarded any output in the making.
        console::print("error: out of memory\r\n");
    }
    if (waitsBeforeClosing(console::currentConsoleUse(), outcome)) console::waitForTheUserToClose();
    return exitStatusOf(outcome);
}

}  // namespace foliant::cli
