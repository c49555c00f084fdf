#include <gtest/gtest.h>

#if defined(_WIN32)
// windows.h first: the others build on it.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_system_parts.h"
#include "scratch_folder.h"

namespace foliant::fs {
namespace {

class PendingFileTest : public ScratchFolderTest {
protected:
    static std::vector<std::string> entries() {
        std::vector<std::string> names;
        for (const auto& entry : stdfs::directory_iterator(".")) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Whatever becomes of a pending file, the folder ends with the name holding
// the new bytes or what it held before, and no other entry.
TEST_F(PendingFileTest, EndsInPlaceOrWithoutTrace) {
    enum class Before { nothing, file, folder };
    enum class End { commit, discard, destroy };
    const struct {
        const char* what;
        Before before;
        End end;
        PendingFile::CommitResult result;  // of a commit
        bool replaced;
        bool keepsWhatIsThere = false;  // the commit's check refuses any file it is asked about
    } cases[] = {
        {"new name", Before::nothing, End::commit, PendingFile::CommitResult::committed, true},
        {"over an earlier file", Before::file, End::commit, PendingFile::CommitResult::committed, true},
        {"over a folder", Before::folder, End::commit, PendingFile::CommitResult::notPlaced, false},
        {"discarded beside a file", Before::file, End::discard, PendingFile::CommitResult::notPlaced, false},
        {"discarded, no file", Before::nothing, End::discard, PendingFile::CommitResult::notPlaced, false},
        {"dropped unfinished", Before::file, End::destroy, PendingFile::CommitResult::notPlaced, false},
        {"a file it may not replace", Before::file, End::commit, PendingFile::CommitResult::refused, false, true},
        {"a free name asks nothing", Before::nothing, End::commit, PendingFile::CommitResult::committed, true, true},
    };
    const Bytes fresh(3000, 'n');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stdfs::remove_all("out.hdb");
        if (c.before == Before::file) write("out.hdb", {'o', 'l', 'd'});
        if (c.before == Before::folder) stdfs::create_directory("out.hdb");
        {
            PendingFile file;
            ASSERT_TRUE(file.create("out.hdb"));
            ASSERT_TRUE(file.writeAll(fresh.data(), 1000));
            ASSERT_TRUE(file.writeAll(fresh.data() + 1000, 2000));
            const auto refuse = [&c](const PathStatus& there) {
                EXPECT_EQ(there.kind, PathKind::regularFile);
                EXPECT_EQ(c.before, Before::file);
                return false;
            };
            if (c.end == End::commit) {
                EXPECT_EQ(file.commit(c.keepsWhatIsThere ? PendingFile::ReplaceCheck(refuse) : nullptr), c.result);
            } else if (c.end == End::discard) {
                file.discard();
            }
        }
        const bool exists = c.before != Before::nothing || c.replaced;
        EXPECT_EQ(entries(), exists ? std::vector<std::string>{"out.hdb"} : std::vector<std::string>{});
        if (c.replaced) {
            EXPECT_EQ(read("out.hdb"), fresh);
        } else if (c.before == Before::file) {
            EXPECT_EQ(read("out.hdb"), (Bytes{'o', 'l', 'd'}));
        } else if (c.before == Before::folder) {
            EXPECT_TRUE(stdfs::is_directory("out.hdb"));
        }
    }
}

// "all" makes one after another in one process.
TEST_F(PendingFileTest, OneAfterAnother) {
    for (const char* name : {"a.hdb", "b.hdb", "a.hdb"}) {
        PendingFile file;
        ASSERT_TRUE(file.create(name));
        ASSERT_TRUE(file.writeAll(name, 1));
        EXPECT_EQ(file.commit(), PendingFile::CommitResult::committed);
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.hdb", "b.hdb"}));
    EXPECT_EQ(read("a.hdb"), Bytes{'a'});
}

#if defined(_WIN32)
// The DACL of `name` in the security descriptor language, or "" if unknown.
std::wstring daclOf(const wchar_t* name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return L"";
    LPWSTR text = nullptr;
    std::wstring dacl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr) != 0)
        dacl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return dacl;
}

// The replacing file gets the earlier one's access rules, as a rename alone
// would not give it.
TEST_F(PendingFileTest, ReplacingKeepsTheEarlierDacl) {
    write("out.hdb", {'o'});
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_NE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr),
        0);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_NE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted), 0);
    ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(L"out.hdb"), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(descriptor);
    const std::wstring earlier = daclOf(L"out.hdb");
    // Wine makes a DACL up from the Unix permission bits and keeps none.
    if (earlier != L"D:P(A;;FA;;;WD)") GTEST_SKIP() << "this system keeps no DACL of a file's own (Wine)";
    PendingFile file;
    ASSERT_TRUE(file.create("out.hdb"));
    ASSERT_TRUE(file.writeAll("n", 1));
    ASSERT_EQ(file.commit(), PendingFile::CommitResult::committed);
    EXPECT_EQ(daclOf(L"out.hdb"), earlier);
    EXPECT_EQ(read("out.hdb"), Bytes{'n'});
}
#endif

// Keeps `name` as a live run keeps its temporary file: locked, or on
// Windows open.
class HeldAsByALiveRun {
public:
    explicit HeldAsByALiveRun(const char* name) {
#if defined(_WIN32)
        file_ = std::fopen(name, "rb");
#else
        file_ = ::open(name, O_RDONLY);
        EXPECT_EQ(::flock(file_, LOCK_EX), 0);
#endif
    }
    ~HeldAsByALiveRun() {
#if defined(_WIN32)
        (void)std::fclose(file_);
#else
        ::close(file_);
#endif
    }
    HeldAsByALiveRun(const HeldAsByALiveRun&) = delete;
    HeldAsByALiveRun& operator=(const HeldAsByALiveRun&) = delete;

private:
#if defined(_WIN32)
    std::FILE* file_;
#else
    int file_;
#endif
};

// Only the temporary files of runs that are gone go; nothing else, and
// nothing through a link.
TEST_F(PendingFileTest, SweepRemovesOnlyDebris) {
    const std::string debris = ".foliant-0123456789ab.tmp";
    for (const char* name : {".foliant-0123456789ab.tmp", ".foliant-aaaaaaaaaaaa.tmp", ".foliant-0123456789AB.tmp",
                             ".foliant-0123456789a.tmp", ".foliant-0123456789abc.tmp", ".foliant-0123456789ab.tmpx",
                             "foliant-0123456789ab.tmp", "a.hdb"})
        write(name, {'x'});
    stdfs::create_directory(".foliant-bbbbbbbbbbbb.tmp");
    const bool linked = [] {
        std::error_code error;
        stdfs::create_symlink("a.hdb", ".foliant-cccccccccccc.tmp", error);
        return !error;
    }();
#if !defined(_WIN32)
    ASSERT_EQ(::mkfifo(".foliant-dddddddddddd.tmp", 0600), 0);
#endif
    std::vector<std::string> before = entries();
    {
        const HeldAsByALiveRun held(".foliant-aaaaaaaaaaaa.tmp");
        sweepDebris(before);
    }
    before.erase(std::find(before.begin(), before.end(), debris));
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(read("a.hdb"), Bytes{'x'});
    EXPECT_TRUE(!linked || stdfs::is_symlink(".foliant-cccccccccccc.tmp"));
}

// A name another run or a sweep took between its choice and its use is
// retried with a fresh one, a hundred times at most; any other failure ends
// the search at once.
TEST(FreshTemporaryName, RetriesTakenNamesOnly) {
    using parts::Attempt;
    const struct {
        const char* what;
        std::vector<Attempt> answers;  // to each try in turn; the last one repeats
        std::size_t tries;
        bool made;
    } cases[] = {
        {"taken twice, then made", {Attempt::nameTaken, Attempt::nameTaken, Attempt::made}, 3, true},
        {"always taken", {Attempt::nameTaken}, 100, false},
        {"failed", {Attempt::failed}, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> tried;
        const std::string name = parts::withFreshTemporaryName([&](const std::string& candidate) {
            tried.push_back(candidate);
            return c.answers[std::min(tried.size(), c.answers.size()) - 1];
        });
        ASSERT_EQ(tried.size(), c.tries);
        EXPECT_EQ(name, c.made ? tried.back() : std::string());
        EXPECT_EQ(std::set<std::string>(tried.begin(), tried.end()).size(), tried.size()) << "a name tried twice";
    }
}

}  // namespace
}  // namespace foliant::fs
