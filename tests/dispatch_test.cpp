#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace foliant::cli {
namespace {

TEST(Dispatch, FirstArgumentChoosesTheMode) {
    const struct {
        std::vector<const char*> arguments;
        RunMode mode;
    } cases[] = {
        {{}, RunMode::interactive},
        {{"all"}, RunMode::batch},
        {{"all", "x.txt"}, RunMode::batch},
        {{"all.txt"}, RunMode::singleFile},
        {{"notes.txt.bak"}, RunMode::singleFile},
        {{"x.TXTfile"}, RunMode::singleFile},
        {{"*.txt"}, RunMode::singleFile},
        {{"ALL"}, RunMode::usage},
        {{"All"}, RunMode::usage},
        {{"allx"}, RunMode::usage},
        {{"all "}, RunMode::usage},
        {{" all"}, RunMode::usage},
        {{"al"}, RunMode::usage},
        {{""}, RunMode::usage},
        {{"a.Txt"}, RunMode::usage},
        {{"readme", "a.txt"}, RunMode::usage},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chooseMode(c.arguments), c.mode) << (c.arguments.empty() ? "(none)" : c.arguments[0]);
}

TEST(Dispatch, SingleFileInputs) {
    using Names = std::vector<std::string_view>;
    const struct {
        std::vector<const char*> arguments;
        Names inputs;
    } cases[] = {
        {{"a.txt"}, {"a.txt"}},
        {{"a.txt", "b.TXT", "c.txt.bak"}, {"a.txt", "b.TXT", "c.txt.bak"}},
        {{"b.txt", "a.txt"}, {"b.txt", "a.txt"}},
        {{"a.txt", "readme.md", "all", "", "x.Txt", "b.txt"}, {"a.txt", "b.txt"}},
        {{"a.txt", "a.txt"}, {"a.txt", "a.txt"}},
        {{"a.txt", "b.txt", "all"}, {"a.txt", "b.txt"}},
        // As Explorer hands dropped files over: full paths, a network one too.
        {{R"(C:\Users\me\Books\a b.txt)", R"(\\server\share\B.TXT)", R"(C:\Users\me\notes.md)"},
         {R"(C:\Users\me\Books\a b.txt)", R"(\\server\share\B.TXT)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(singleFileInputs(c.arguments), c.inputs) << c.arguments.size() << " arguments";
}

TEST(Dispatch, WaitsBeforeClosingOnlyAfterAFailureInItsOwnConsole) {
    const struct {
        unsigned processCount;
        RunOutcome outcome;
        bool streamsRedirected;
        bool waits;
    } cases[] = {
        {1, RunOutcome::failed, false, true},
        {1, RunOutcome::cancelled, false, false},
        {1, RunOutcome::succeeded, false, false},
        {1, RunOutcome::failed, true, false},   // a script reads the message, no one presses a key
        {2, RunOutcome::failed, false, false},  // cmd, PowerShell or a shell shares the console
        {3, RunOutcome::failed, false, false},
        {0, RunOutcome::failed, false, false},  // no console at all
        {0, RunOutcome::failed, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waitsBeforeClosing(console::ConsoleUse{c.processCount, c.streamsRedirected}, c.outcome), c.waits)
            << c.processCount << " processes, redirected " << c.streamsRedirected << ", outcome "
            << static_cast<int>(c.outcome);
}

TEST(Dispatch, ACancelEndsWithTheFailureStatus) {
    EXPECT_EQ(exitStatusOf(RunOutcome::succeeded), ExitStatus::success);
    EXPECT_EQ(exitStatusOf(RunOutcome::cancelled), ExitStatus::failure);
    EXPECT_EQ(exitStatusOf(RunOutcome::failed), ExitStatus::failure);
}

}  // namespace
}  // namespace foliant::cli
