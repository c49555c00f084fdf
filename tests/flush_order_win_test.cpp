// The order of a batch's flushes and names on Windows, and what a run says
// when one of them or the listing fails, watched through the system calls' table.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/batch_mode.h"
#include "platform/system_calls_win.h"
#include "scratch_folder.h"

namespace foliant {
namespace {

// Each flush as "kind@outputs named at that moment".
std::vector<std::string> seen;

// What the replaced calls answer, set by each case.
struct Answers {
    LONG flushEx = 0;
    DWORD fileFlushError = 0;  // a file's full flush fails so (0: it succeeds)
    DWORD folderFlushError = 0;
    const wchar_t* fileSystem = L"NTFS";
    int listedBeforeFailing = -1;  // FindNextFileW calls that succeed (-1: all)
};
Answers answers;
int listed = 0;

void see(std::string kind) {
    int named = 0;
    for (const auto& entry : stdfs::directory_iterator(".")) named += entry.path().extension() == ".hdb" ? 1 : 0;
    kind += '@';
    kind += std::to_string(named);
    seen.push_back(kind);
}

BOOL answer(DWORD error) {
    SetLastError(error);
    return error == 0 ? TRUE : FALSE;
}

LONG WINAPI watchedFlushEx(HANDLE /*file*/, ULONG flags, PVOID /*parameters*/, ULONG /*size*/, PVOID /*status*/) {
    if (flags == win::FLUSH_DATA_ONLY) see("data");
    else see(flags == win::FLUSH_NO_SYNC ? "data+size" : "other");
    return answers.flushEx;
}

BOOL WINAPI watchedFlushAll(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    const bool folder =
        GetFileInformationByHandle(file, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!folder) {
        see("full");
        return answer(answers.fileFlushError);
    }
    // The real flush too: a folder handle it cannot flush (one opened only
    // for reading) would pass a faked one unnoticed.
    see(FlushFileBuffers(file) != 0 ? "folder" : "folder refused");
    return answer(answers.folderFlushError);
}

BOOL WINAPI watchedVolumeInformation(HANDLE /*file*/, LPWSTR /*volumeName*/, DWORD /*volumeNameSize*/,
                                     LPDWORD /*serialNumber*/, LPDWORD /*maxComponentLength*/,
                                     LPDWORD /*fileSystemFlags*/, LPWSTR fileSystemName, DWORD fileSystemNameSize) {
    if (answers.fileSystem == nullptr) return answer(ERROR_INVALID_FUNCTION);
    return answer(wcscpy_s(fileSystemName, fileSystemNameSize, answers.fileSystem) == 0 ? 0 : ERROR_MORE_DATA);
}

BOOL WINAPI watchedFindNext(HANDLE search, LPWIN32_FIND_DATAW found) {
    if (answers.listedBeforeFailing >= 0 && listed++ == answers.listedBeforeFailing)
        return answer(ERROR_UNEXP_NET_ERR);  // a network folder gone away
    return FindNextFileW(search, found);
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
        win::systemCalls() = saved_;
        ScratchFolderTest::TearDown();
    }

private:
    win::SystemCalls saved_ = win::systemCalls();
};

TEST_F(FlushOrderTest, TheBatchIsFlushedOnceBeforeItsNames) {
    constexpr auto IO_ERROR = static_cast<LONG>(0xC0000185);           // STATUS_IO_DEVICE_ERROR
    constexpr auto NOT_SUPPORTED = static_cast<LONG>(0xC00000BB);      // STATUS_NOT_SUPPORTED
    constexpr auto INVALID_PARAMETER = static_cast<LONG>(0xC000000D);  // STATUS_INVALID_PARAMETER
    const std::vector<std::string> abc = {"a.txt", "b.txt", "c.txt"};
    const std::vector<std::string> batchFlushed = {"data@0", "data@0", "data@0", "full@0", "folder@3"};
    const std::vector<std::string> eachFlushed = {"full@0", "full@0", "full@0", "folder@3"};
    const std::string three = "a.hdb converted.\nb.hdb converted.\nc.hdb converted.\n";
    const std::string notWritten = "error: file not written: a.hdb\r\n";
    const std::string notSynced = three + "error: folder not synced\r\n";
    const struct {
        const char* what;
        std::vector<std::string> texts;  // a name ending in '/' is a folder; an .hdb one must stay
        bool hasFlushEx;
        Answers answers;
        std::vector<std::string> calls;
        std::string printed;
    } cases[] = {
        {"a batch", abc, true, {}, batchFlushed, three},
        {"a data flush fails", abc, true, {.flushEx = IO_ERROR}, {"data@0"}, notWritten},
        {"the batch's full flush fails",
         abc,
         true,
         {.fileFlushError = ERROR_IO_DEVICE},
         {"data@0", "data@0", "data@0", "full@0"},
         notWritten},
        {"no NtFlushBuffersFileEx", abc, false, {}, eachFlushed, three},
        {"its flags refused",
         abc,
         true,
         {.flushEx = NOT_SUPPORTED},
         {"data@0", "full@0", "full@0", "full@0", "folder@3"},
         three},
        {"its flags taken for an invalid parameter",
         abc,
         true,
         {.flushEx = INVALID_PARAMETER},
         {"data@0", "full@0", "full@0", "full@0", "folder@3"},
         three},
        // No journal: each file's size and clusters go with its data.
        {"FAT32",
         abc,
         true,
         {.fileSystem = L"FAT32"},
         {"data+size@0", "data+size@0", "data+size@0", "full@0", "folder@3"},
         three},
        {"exFAT",
         abc,
         true,
         {.fileSystem = L"exFAT"},
         {"data+size@0", "data+size@0", "data+size@0", "full@0", "folder@3"},
         three},
        {"a file system that does not say",
         abc,
         true,
         {.fileSystem = nullptr},
         {"data+size@0", "data+size@0", "data+size@0", "full@0", "folder@3"},
         three},
        {"one text", {"a.txt"}, true, {}, {"full@0", "folder@1"}, "a.hdb converted.\n"},
        {"one text's flush fails over an earlier output",
         {"a.txt", "a.hdb"},
         true,
         {.fileFlushError = ERROR_IO_DEVICE},
         {"full@1"},
         notWritten},
        {"a failure after two",
         {"a.txt", "b.txt", "c.txt/"},
         true,
         {},
         {"data@0", "data@0", "full@0", "folder@2"},
         "a.hdb converted.\nb.hdb converted.\nerror: file not found: c.txt\r\n"},
        {"the folder's flush fails", abc, true, {.folderFlushError = ERROR_IO_DEVICE}, batchFlushed, notSynced},
        // The folder was opened for writing: a denial is a failure, not a refusal.
        {"the folder's flush denied", abc, true, {.folderFlushError = ERROR_ACCESS_DENIED}, batchFlushed, notSynced},
        {"a file system that cannot flush a folder",
         abc,
         true,
         {.folderFlushError = ERROR_INVALID_FUNCTION},
         batchFlushed,
         three},
        {"the listing cut short",
         abc,
         true,
         {.listedBeforeFailing = 3},
         {},
         "error: cannot list the current directory\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        holdOnly(c.texts);
        win::systemCalls() = win::SystemCalls{c.hasFlushEx ? watchedFlushEx : nullptr, watchedFlushAll,
                                              watchedVolumeInformation, FindFirstFileW, watchedFindNext};
        answers = c.answers;
        listed = 0;
        seen.clear();
        Outcome outcome = Outcome::cancelled;
        EXPECT_EQ(printedBy([&] { outcome = cli::runBatchMode(); }), c.printed);
        EXPECT_EQ(outcome, c.printed.ends_with("\r\n") ? Outcome::failed : Outcome::succeeded);
        EXPECT_EQ(seen, c.calls);
        for (const std::string& name : c.texts) {
            if (name.ends_with('/')) continue;
            EXPECT_EQ(read(name), Bytes(2000, 't')) << name;
        }
    }
}

}  // namespace
}  // namespace foliant
