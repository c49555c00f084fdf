#include "platform/desktop_posix.h"

#include <gtest/gtest.h>

namespace foliant::desktop {
namespace {

TEST(DesktopPosix, FolderOfAChosenFile) {
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {
        {"/x.txt", "/"},
        {"/a/x.txt", "/a"},
        {"/a/b/x.txt", "/a/b"},
        {"/a b/x y.txt", "/a b"},
    };
    for (const auto& c : cases) EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace foliant::desktop
