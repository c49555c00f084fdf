#include "platform/system_calls_win.h"

namespace foliant::win {

SystemCalls& systemCalls() {
    static SystemCalls calls = [] {
        SystemCalls found{nullptr, FlushFileBuffers, GetVolumeInformationByHandleW, FindFirstFileW, FindNextFileW};
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const FARPROC flushEx = ntdll != nullptr ? GetProcAddress(ntdll, "NtFlushBuffersFileEx") : nullptr;
        // Through void (*)(): a function pointer of one type to another.
        found.flushEx = reinterpret_cast<decltype(found.flushEx)>(reinterpret_cast<void (*)()>(flushEx));
        return found;
    }();
    return calls;
}

}  // namespace foliant::win
