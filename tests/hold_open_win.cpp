// What another Windows program does to a file while foliant.exe runs, for
// the end-to-end cases under Wine:
//   hold NAME          opens NAME for writing as a log writer does (others may
//                      read it), prints "holding" and keeps it open until its
//                      standard input ends;
//   dacl NAME          prints NAME's DACL in SDDL;
//   set-dacl NAME SDDL gives NAME that DACL (its P flag: protected).
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "hold_open_win: %s failed: error %lu\n", what, GetLastError());
    return 1;
}

int hold(const wchar_t* name) {
    const HANDLE file =
        CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    std::puts("holding");
    (void)std::fflush(stdout);
    char byte = 0;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) != 0 && got != 0) {}
    CloseHandle(file);
    return 0;
}

int printDacl(const wchar_t* name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return fail("GetNamedSecurityInfoW");
    wchar_t* sddl = nullptr;
    const bool shown = ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                            DACL_SECURITY_INFORMATION, &sddl, nullptr);
    LocalFree(descriptor);
    if (!shown) return fail("ConvertSecurityDescriptorToStringSecurityDescriptorW");
    std::printf("%ls\n", sddl);
    LocalFree(sddl);
    return 0;
}

int setDacl(const wchar_t* name, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return fail("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    const bool set = SetFileSecurityW(name, DACL_SECURITY_INFORMATION, descriptor) != 0;
    LocalFree(descriptor);
    return set ? 0 : fail("SetFileSecurityW");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0) return hold(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"dacl") == 0) return printDacl(argv[2]);
    if (argc == 4 && std::wcscmp(argv[1], L"set-dacl") == 0) return setDacl(argv[2], argv[3]);
    std::fputs("usage: hold_open_win hold NAME | dacl NAME | set-dacl NAME SDDL\n", stderr);
    return 2;
}
