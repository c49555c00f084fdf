#include "cli/dispatch.h"
#include "cli/exit_status.h"

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
        Outcome outcome;
        bool streamsRedirected;
        bool waits;
    } cases[] = {
        {1, Outcome::failed, false, true},
        {1, Outcome::cancelled, false, false},
        {1, Outcome::succeeded, false, false},
        {1, Outcome::failed, true, false},   // a script reads the message, no one presses a key
        {2, Outcome::failed, false, false},  // cmd, PowerShell or a shell shares the console
        {3, Outcome::failed, false, false},
        {0, Outcome::failed, false, false},  // no console at all
        {0, Outcome::failed, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waitsBeforeClosing(console::ConsoleUse{c.processCount, c.streamsRedirected}, c.outcome), c.waits)
            << c.processCount << " processes, redirected " << c.streamsRedirected << ", outcome "
            << static_cast<int>(c.outcome);
}

TEST(Dispatch, ACancelEndsWithTheFailureStatus) {
    EXPECT_EQ(exitStatusOf(Outcome::succeeded), 0);
    EXPECT_EQ(exitStatusOf(Outcome::cancelled), 1);
    EXPECT_EQ(exitStatusOf(Outcome::failed), 1);
}

}  // namespace
}  // namespace foliant::cli
