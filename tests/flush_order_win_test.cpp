// The order of a batch's flushes and names on Windows, watched through the
// flush calls' table.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/batch_mode.h"
#include "platform/flush_calls_win.h"
#include "scratch_folder.h"

namespace foliant {
namespace {

// Each flush as "kind@outputs named at that moment".
std::vector<std::string> seen;
LONG flushExResult = 0;

void see(std::string kind) {
    int named = 0;
    for (const auto& entry : stdfs::directory_iterator(".")) named += entry.path().extension() == ".hdb" ? 1 : 0;
    kind += '@';
    kind += std::to_string(named);
    seen.push_back(kind);
}

LONG WINAPI watchedFlushEx(HANDLE /*file*/, ULONG flags, PVOID /*parameters*/, ULONG /*size*/, PVOID /*status*/) {
    const bool withoutCacheFlush = flags == win::FLUSH_DATA_ONLY || flags == win::FLUSH_NO_SYNC;
    see(withoutCacheFlush ? "data" : "other");
    return flushExResult;
}

BOOL WINAPI watchedFlushAll(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    const bool folder =
        GetFileInformationByHandle(file, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    see(folder ? "folder" : "full");
    return TRUE;
}

class FlushOrderTest : public ScratchFolderTest {
protected:
    // The folder holds just `texts`; a name ending in '/' is a folder.
    static void holdOnly(const std::vector<std::string>& texts) {
        for (const auto& entry : stdfs::directory_iterator(".")) stdfs::remove_all(entry.path());
        for (const std::string& name : texts) {
            if (name.ends_with('/')) stdfs::create_directory(name.substr(0, name.size() - 1));
            else write(name, Bytes(2000, 't'));
        }
    }
    void TearDown() override {
        win::flushCalls() = saved_;
        ScratchFolderTest::TearDown();
    }

private:
    win::FlushCalls saved_ = win::flushCalls();
};

TEST_F(FlushOrderTest, TheBatchIsFlushedOnceBeforeItsNames) {
    constexpr auto IO_ERROR = static_cast<LONG>(0xC0000185);  // STATUS_IO_DEVICE_ERROR
    constexpr auto REFUSED = static_cast<LONG>(0xC00000BB);   // STATUS_NOT_SUPPORTED
    const std::string three = "a.hdb converted.\nb.hdb converted.\nc.hdb converted.\n";
    const struct {
        const char* what;
        std::vector<std::string> texts;  // a name ending in '/' is a folder
        bool hasFlushEx;
        LONG flushExResult;
        std::vector<std::string> calls;
        std::string printed;
    } cases[] = {
        {"a batch", {"a.txt", "b.txt", "c.txt"}, true, 0, {"data@0", "data@0", "data@0", "full@0", "folder@3"}, three},
        {"a data flush fails",
         {"a.txt", "b.txt", "c.txt"},
         true,
         IO_ERROR,
         {"data@0"},
         "error: file not written: a.hdb\r\n"},
        {"no NtFlushBuffersFileEx",
         {"a.txt", "b.txt", "c.txt"},
         false,
         0,
         {"full@0", "full@0", "full@0", "folder@3"},
         three},
        {"its flags refused",
         {"a.txt", "b.txt", "c.txt"},
         true,
         REFUSED,
         {"data@0", "full@0", "full@0", "full@0", "folder@3"},
         three},
        {"one text", {"a.txt"}, true, 0, {"full@0", "folder@1"}, "a.hdb converted.\n"},
        {"a failure after two",
         {"a.txt", "b.txt", "c.txt/"},
         true,
         0,
         {"data@0", "data@0", "full@0", "folder@2"},
         "a.hdb converted.\nb.hdb converted.\nerror: file not found: c.txt\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        holdOnly(c.texts);
        win::flushCalls() = win::FlushCalls{c.hasFlushEx ? watchedFlushEx : nullptr, watchedFlushAll};
        flushExResult = c.flushExResult;
        seen.clear();
        Outcome outcome = Outcome::cancelled;
        EXPECT_EQ(printedBy([&] { outcome = cli::runBatchMode(); }), c.printed);
        EXPECT_EQ(outcome, c.printed.ends_with("\r\n") ? Outcome::failed : Outcome::succeeded);
        EXPECT_EQ(seen, c.calls);
    }
}

}  // namespace
}  // namespace foliant
