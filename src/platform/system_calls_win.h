// The system calls whose failures decide what a run reports but which no
// test could make fail on its own (a flush the device refuses, a listing cut
// short by the network, a volume of another file system), in one table that
// a test may fill with its own, to watch their order or make one fail.
#pragma once

#include <windows.h>

namespace foliant::win {

// NtFlushBuffersFileEx's flags: neither flushes the device's cache.
constexpr ULONG FLUSH_DATA_ONLY = 0x1;  // the file's data, none of its metadata
constexpr ULONG FLUSH_NO_SYNC = 0x2;    // its data and metadata (its size, where its clusters are)

struct SystemCalls {
    // NtFlushBuffersFileEx from ntdll, where the system has it (Windows 8
    // and later, Wine 10 and later); null elsewhere. Returns an NTSTATUS;
    // `ioStatus` is an IO_STATUS_BLOCK.
    LONG(WINAPI* flushEx)(HANDLE file, ULONG flags, PVOID parameters, ULONG parametersSize, PVOID ioStatus);
    // A full flush: the file's data and metadata, then the device's cache.
    BOOL(WINAPI* flushAll)(HANDLE file);
    // GetVolumeInformationByHandleW: the name of the file system holding a file.
    BOOL(WINAPI* volumeInformation)
    (HANDLE file, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber, LPDWORD maxComponentLength,
     LPDWORD fileSystemFlags, LPWSTR fileSystemName, DWORD fileSystemNameSize);
    // FindFirstFileW and FindNextFileW: a folder's listing.
    HANDLE(WINAPI* findFirst)(LPCWSTR pattern, LPWIN32_FIND_DATAW found);
    BOOL(WINAPI* findNext)(HANDLE search, LPWIN32_FIND_DATAW found);
};

SystemCalls& systemCalls();

}  // namespace foliant::win
