#include "gui/interactive_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch_folder.h"

namespace foliant::gui {
namespace {

class InteractiveModeTest : public ScratchFolderTest {
protected:
    // A dialog that answers `answer`, and an opener that records its calls.
    Desktop standIn(std::string answer, desktop::Choice::Kind kind = desktop::Choice::chosen) {
        if (answer.empty() && kind == desktop::Choice::chosen) kind = desktop::Choice::cancelled;
        return Desktop{[answer, kind] {
                           return desktop::Choice{kind, answer};
                       },
                       [this](const std::string& path) { opened.push_back(path); }};
    }
    std::vector<std::string> opened;
};

TEST_F(InteractiveModeTest, ChosenFileIsConvertedThenOpened) {
    write("notes.doc", {'n', 'o'});  // no name test in this mode
    Outcome outcome{};
    const std::string printed = printedBy([&] { outcome = runInteractiveMode(standIn("notes.doc")); });
    EXPECT_EQ(outcome, Outcome::succeeded);
    EXPECT_EQ(printed, "notes.hdb converted.\n");
    EXPECT_EQ(opened, std::vector<std::string>{"notes.hdb"});
    EXPECT_EQ(read("notes.hdb").size(), 92u + 32 + 17 + 1 + 2);
}

TEST_F(InteractiveModeTest, CancelPrintsNothingAndOpensNothing) {
    Outcome outcome{};
    EXPECT_EQ(printedBy([&] { outcome = runInteractiveMode(standIn("")); }), "");
    EXPECT_EQ(outcome, Outcome::cancelled);
    EXPECT_TRUE(opened.empty());
}

TEST_F(InteractiveModeTest, FailureOpensNothing) {
    const struct {
        Desktop desktop;
        const char* printed;
    } cases[] = {
        {standIn("missing.txt"), "error: file not found: missing.txt\r\n"},
        {standIn("", desktop::Choice::unavailable), "error: no file chooser could be shown\r\n"},
    };
    for (const auto& c : cases) {
        Outcome outcome{};
        EXPECT_EQ(printedBy([&] { outcome = runInteractiveMode(c.desktop); }), c.printed);
        EXPECT_EQ(outcome, Outcome::failed);
    }
    EXPECT_TRUE(opened.empty());
}

}  // namespace
}  // namespace foliant::gui
