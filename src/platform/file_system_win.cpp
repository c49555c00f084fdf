#include <windows.h>

#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_system_parts.h"
#include "platform/system_calls_win.h"
#include "platform/windows_text.h"

namespace foliant::fs {
namespace {

// Handles are pointers that File keeps as integers.
HANDLE asHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }  // NOLINT(performance-no-int-to-ptr)

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// A file marked for deletion is removed when its last handle closes, also
// when the process is ended by the system or killed.
bool markForDeletion(HANDLE handle, bool marked) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(marked)};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Renames the open file to `name` in its own folder; `replacing`: over a
// file of that name.
bool renameOpenFile(HANDLE handle, const std::string& name, bool replacing) {
    const std::wstring wide = win::systemPath(name);
    const std::size_t nameBytes = wide.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replacing ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, wide.c_str(), nameBytes + sizeof(wchar_t));
    return SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// Windows reports a name too long in more than one way, and Wine reports it
// as not found, so the length itself decides: every Windows file system
// allows 255 UTF-16 units for one name.
bool longerThanAnyName(const std::string& path) {
    constexpr int MAX_NAME_UNITS = 255;
    const std::size_t start = path.find_last_of("\\/:") + 1;  // npos + 1 is 0
    const std::string name = path.substr(start);
    return win::widen(name).size() > MAX_NAME_UNITS;
}

// Wine keeps no DACL: it shows one made up from the Unix mode (the owner's
// and everyone's bits, read always with execute; a folder's entries inherited
// by what it holds) and turns one that is set into a mode again (the owner's
// rights become the group's too). Asked once; wine_get_version is an export
// of Wine's ntdll alone.
bool runsUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// Under Wine: `dacl` as it is, without the folder's entries that
// SetSecurityInfo adds there even to a protected one, and without execute,
// which a copy of the earlier mode's read would give every replaced output.
bool setOwnEntriesWithoutExecute(HANDLE file, PACL dacl) {
    GENERIC_MAPPING fileRights{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    void* entry = nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        if (GetAce(dacl, i, &entry) == 0 || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        ACCESS_MASK& rights = static_cast<ACCESS_ALLOWED_ACE*>(entry)->Mask;
        MapGenericMask(&rights, &fileRights);
        rights &= ~static_cast<ACCESS_MASK>(FILE_EXECUTE);
    }
    SECURITY_DESCRIPTOR own{};
    return InitializeSecurityDescriptor(&own, SECURITY_DESCRIPTOR_REVISION) != 0 &&
           SetSecurityDescriptorDacl(&own, TRUE, dacl, FALSE) != 0 &&
           SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, &own) != 0;
}

// A new file that replaces an earlier output gets that one's access rules
// (its DACL, protected from inheritance or not as it was); an output without
// a predecessor keeps what the folder gives it.
void keepAccessOf(const std::string& earlier, HANDLE file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(win::systemPath(earlier).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    if (runsUnderWine()) {
        (void)setOwnEntriesWithoutExecute(file, dacl);
        LocalFree(descriptor);
        return;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool isProtected =
        GetSecurityDescriptorControl(descriptor, &control, &revision) != 0 && (control & SE_DACL_PROTECTED) != 0;
    const SECURITY_INFORMATION inheritance =
        isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    (void)SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, dacl,
                          nullptr);
    LocalFree(descriptor);
}

// Statuses by which a file system or filter refuses NtFlushBuffersFileEx's
// flags, or the call itself: nothing was lost, a full flush will do.
bool refusesFlags(LONG status) {
    constexpr ULONG REFUSALS[] = {0xC0000002 /* not implemented */, 0xC000000D /* invalid parameter */,
                                  0xC0000010 /* invalid device request */, 0xC00000BB /* not supported */};
    return std::find(std::begin(REFUSALS), std::end(REFUSALS), static_cast<ULONG>(status)) != std::end(REFUSALS);
}

// NTFS journals every file's size and clusters, and the one full flush at
// the end commits that journal: a file's data alone is enough before it.
// FAT32 and exFAT keep no journal, so each file's size and clusters are
// written with its data; the full flush then flushes the device's cache.
// Asked once a batch: the folder is the same, a volume may be another.
ULONG flushFlagsFor(HANDLE file) {
    wchar_t system[MAX_PATH + 1] = {};
    const bool known =
        win::systemCalls().volumeInformation(file, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1) != 0;
    return known && std::wcscmp(system, L"NTFS") == 0 ? win::FLUSH_DATA_ONLY : win::FLUSH_NO_SYNC;
}

enum class Written { all, refused, failed };

// Writes every file of a batch to the device without flushing its cache.
Written writeWithoutCacheFlush(const std::vector<HANDLE>& files) {
    const win::SystemCalls& calls = win::systemCalls();
    const ULONG flags = flushFlagsFor(files.front());
    for (const HANDLE file : files) {
        IO_STATUS_BLOCK status{};
        const LONG result = calls.flushEx(file, flags, nullptr, 0, &status);
        if (result < 0) return refusesFlags(result) ? Written::refused : Written::failed;
    }
    return Written::all;
}

}  // namespace

PathStatus inspectPath(const std::string& path) {
    // No access asked for: this looks at the file without opening its data,
    // and FILE_FLAG_BACKUP_SEMANTICS lets it open a directory too.
    const std::wstring name = win::systemPath(path);
    const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A file held without sharing still exists; say what the attributes say.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return PathStatus{longerThanAnyName(path) ? PathKind::impossibleName : PathKind::missing, false, FileId{}};
        const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return PathStatus{directory ? PathKind::directory : PathKind::regularFile,
                          (attributes & FILE_ATTRIBUTE_READONLY) != 0, FileId{}};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (!known) return PathStatus{PathKind::other, true, FileId{}};
    PathKind kind = PathKind::other;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) kind = PathKind::directory;
    else if (type == FILE_TYPE_DISK) kind = PathKind::regularFile;
    return PathStatus{kind, (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0, idOf(info)};
}

bool File::openForReading(const std::string& path, FileFacts* facts) {
    close();
    // Others may go on reading and writing the text while it is converted:
    // a log being written, a text an editor keeps open for writing. Without
    // FILE_SHARE_WRITE such a text could not be opened at all.
    const HANDLE handle =
        CreateFileW(win::systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    if (facts == nullptr) return true;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle, &size) == 0 || !id(facts->id)) {
        close();
        return false;
    }
    facts->size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool File::id(FileId& out) const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(asHandle(handle_), &info) == 0) return false;
    out = idOf(info);
    return true;
}

bool File::readExactly(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        const DWORD wanted = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD got = 0;
        if (ReadFile(asHandle(handle_), bytes, wanted, &got, nullptr) == 0 || got == 0)
            return false;  // error, or the file ended early
        bytes += got;
        count -= got;
    }
    return true;
}

bool File::atEnd() {
    char more = 0;
    DWORD got = 0;
    return ReadFile(asHandle(handle_), &more, 1, &got, nullptr) != 0 && got == 0;
}

bool File::writeAll(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const DWORD wanted = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        // A disk file takes all or fails; a short count (Wine on a full
        // disk) means the rest was lost, not that it may be retried.
        if (WriteFile(asHandle(handle_), bytes, wanted, &written, nullptr) == 0 || written != wanted) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

bool File::close() {
    if (handle_ == -1) return true;
    const BOOL closed = CloseHandle(asHandle(handle_));
    handle_ = -1;
    return closed != 0;
}

struct PendingFile::State {
    std::string temporary;        // the name it has until it takes its own, if any
    bool removedOnClose = false;  // marked for deletion
};

PendingFile::State* PendingFile::newState() { return new State(); }

void PendingFile::StateDeleter::operator()(State* state) const { delete state; }

bool PendingFile::writeAll(const void* buffer, std::size_t count) {
    if (!file_.writeAll(buffer, count)) return false;
    written_ += count;
    return true;
}

bool PendingFile::create(const std::string& name, bool replacing) {
    discard();
    State& s = *state_;
    name_ = name;
    written_ = 0;
    replacing_ = replacing;
    s.temporary = parts::withFreshTemporaryName([this, &s](const std::string& temporary) {
        // No sharing: while it lives no other run can open it, which tells it
        // from debris. DELETE: to mark it, and to rename it through this
        // handle; WRITE_DAC: to give it the earlier output's access rules
        // (keepAccessOf), which without it fail unseen and leave a replaced
        // private output with the folder's.
        const HANDLE handle = CreateFileW(win::systemPath(temporary).c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? parts::Attempt::nameTaken
                                                                               : parts::Attempt::failed;
        }
        file_ = File(reinterpret_cast<std::intptr_t>(handle));
        // Where the mark is refused, the file is removed by name on failure.
        s.removedOnClose = markForDeletion(handle, true);
        return parts::Attempt::made;
    });
    return !s.temporary.empty();
}

std::size_t makeDurable(std::span<PendingFile> files) {
    if (files.empty()) return 0;
    std::vector<HANDLE> handles;
    for (const PendingFile& pending : files) {
        handles.push_back(asHandle(pending.file_.nativeHandle()));
        // Before the flush, so that it covers them.
        if (pending.replacing_) keepAccessOf(pending.name_, handles.back());
    }
    // A full flush of each would flush the device's cache each time (a flush
    // of the whole volume needs administrator rights): the batch is written
    // without that, then one full flush covers it all. A failure is never
    // tried again: it costs the batch, as the system may have dropped data.
    const win::SystemCalls& calls = win::systemCalls();
    if (files.size() > 1 && calls.flushEx != nullptr) {
        switch (writeWithoutCacheFlush(handles)) {
            case Written::all: return calls.flushAll(handles.back()) != 0 ? files.size() : 0;
            case Written::failed: return 0;
            case Written::refused: break;  // a network share, a filter: a full flush each
        }
    }
    for (std::size_t i = 0; i < handles.size(); ++i)
        if (calls.flushAll(handles[i]) == 0) return i;
    return files.size();
}

PendingFile::CommitResult PendingFile::takeName(const ReplaceCheck& mayReplace) {
    State& s = *state_;
    const HANDLE handle = asHandle(file_.nativeHandle());
    if (s.removedOnClose) {
        if (!markForDeletion(handle, false)) {
            discard();
            return CommitResult::notPlaced;
        }
        s.removedOnClose = false;
    }
    // A new name first, so that the file a taken one holds is asked about
    // (one of its names may be a short 8.3 name) before it is replaced.
    CommitResult result = CommitResult::committed;
    if (!renameOpenFile(handle, name_, false)) {
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        if (taken && mayReplace && !mayReplace(inspectPath(name_))) result = CommitResult::refused;
        else if (!taken || !renameOpenFile(handle, name_, true)) result = CommitResult::notPlaced;
    }
    if (result != CommitResult::committed) {
        s.removedOnClose = markForDeletion(handle, true);
        discard();
        return result;
    }
    s.temporary.clear();
    // The flush reported every error; a failing close now must not cost the
    // output that has replaced an earlier one.
    (void)file_.close();
    return CommitResult::committed;
}

void PendingFile::discard() {
    State& s = *state_;
    file_.close();
    if (!s.temporary.empty() && !s.removedOnClose) DeleteFileW(win::systemPath(s.temporary).c_str());
    s.temporary.clear();
    s.removedOnClose = false;
}

std::size_t pendingFilesAtOnce() { return MAX_PENDING_FILES; }

FolderSync syncCurrentFolder(const std::string& /*anOutput*/) {
    // A rename is in the volume's journal (NTFS) or folder (FAT, exFAT)
    // only in memory until it is flushed. A folder opened for writing, which
    // its owner may do without administrator rights, is flushed as a file is;
    // a flush needs write access, so one opened only for reading would fail.
    const HANDLE folder = CreateFileW(L".", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return FolderSync::synced;  // nothing to ask: as durable as the system keeps names
    const bool flushed = win::systemCalls().flushAll(folder) != 0;
    const DWORD error = GetLastError();
    CloseHandle(folder);
    if (flushed) return FolderSync::synced;
    // Refused, rather than failed: a file system that cannot flush a folder.
    // Access denied is not among them: the handle was granted write access,
    // so a denial means the names were not flushed, and the user is told.
    const bool refused =
        error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER;
    return refused ? FolderSync::synced : FolderSync::failed;
}

namespace parts {

Debris removeIfDebris(const std::string& name) {
    // Opens only when no run holds it; the link itself, never its target.
    const HANDLE handle = CreateFileW(win::systemPath(name).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Debris::kept;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileInformationByHandle(handle, &info) != 0 &&
                         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    const bool removed = regular && markForDeletion(handle, true);
    CloseHandle(handle);
    return removed ? Debris::removed : Debris::kept;
}

}  // namespace parts
}  // namespace foliant::fs
