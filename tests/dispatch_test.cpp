#include "cli/dispatch.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace foliant::cli
