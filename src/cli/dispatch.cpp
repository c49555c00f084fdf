#include "cli/dispatch.h"

#include <new>
#include <string>

#include "cli/batch_mode.h"
#include "cli/usage.h"
#include "gui/interactive_mode.h"
#include "hdb/converter.h"
#include "hdb/file_names.h"

namespace foliant::cli {

namespace {

RunOutcome runSingleFileMode(std::span<const char* const> arguments) {
    hdb::Session session;
    for (const std::string_view input : singleFileInputs(arguments)) {
        std::string output;
        if (!session.convertFile(std::string(input), output)) return RunOutcome::failed;
    }
    return session.finish() ? RunOutcome::succeeded : RunOutcome::failed;
}

RunOutcome runInteractiveMode() {
    switch (gui::runInteractiveMode()) {
        case gui::InteractiveOutcome::converted: return RunOutcome::succeeded;
        case gui::InteractiveOutcome::cancelled: return RunOutcome::cancelled;
        case gui::InteractiveOutcome::failed: return RunOutcome::failed;
    }
    return RunOutcome::failed;
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

bool waitsBeforeClosing(const console::ConsoleUse& console, RunOutcome outcome) {
    return outcome == RunOutcome::failed && console.processCount == 1 && !console.streamsRedirected;
}

ExitStatus exitStatusOf(RunOutcome outcome) {
    return outcome == RunOutcome::succeeded ? ExitStatus::success : ExitStatus::failure;
}

RunOutcome runMode(std::span<const char* const> arguments) {
    switch (chooseMode(arguments)) {
        case RunMode::usage: printUsage(); return RunOutcome::failed;
        case RunMode::interactive: return runInteractiveMode();
        case RunMode::singleFile: return runSingleFileMode(arguments);
        case RunMode::batch: return runBatchMode() == ExitStatus::success ? RunOutcome::succeeded : RunOutcome::failed;
    }
    return RunOutcome::failed;
}

ExitStatus run(std::span<const char* const> arguments) {
    RunOutcome outcome = RunOutcome::failed;
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
