// windows.h first: the others build on it.
#include <windows.h>

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>

#include <utility>
#include <vector>

#include "platform/desktop.h"
#include "platform/open_file_record_win.h"
#include "platform/windows_text.h"

namespace foliant::desktop {
namespace {

// The shell and the dialog expect COM on the calling thread, apartment-threaded.
void initialiseCom() {
    static const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)initialised;
}

}  // namespace

void fillOpenFileRecord(OPENFILENAMEW& record, wchar_t* file, wchar_t* fileTitle) {
    record = OPENFILENAMEW{};
    // The size without the fields Windows 2000 added: 76 in a 32-bit build,
    // and what a 64-bit build needs (76 there makes the call fail at once).
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    record.hwndOwner = nullptr;
    record.hInstance = nullptr;
    // Pairs of zero-terminated strings; the literal's own zero ends the list.
    record.lpstrFilter = L"Text Document Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    record.nFilterIndex = 1;
    file[0] = L'\0';
    record.lpstrFile = file;
    record.nMaxFile = FILE_BUFFER_SIZE;
    fileTitle[0] = L'\0';
    record.lpstrFileTitle = fileTitle;
    record.nMaxFileTitle = FILE_TITLE_BUFFER_SIZE;
    record.Flags = OFN_CREATEPROMPT | OFN_HIDEREADONLY;
    record.lpstrDefExt = L"txt";
}

Choice askForFileName() {
    initialiseCom();
    std::vector<wchar_t> file(FILE_BUFFER_SIZE);
    std::vector<wchar_t> fileTitle(FILE_TITLE_BUFFER_SIZE);
    OPENFILENAMEW record;
    fillOpenFileRecord(record, file.data(), fileTitle.data());
    // An empty name afterwards is a cancel, unless the dialog could not be
    // shown at all.
    if (GetOpenFileNameW(&record) == 0 && CommDlgExtendedError() != 0) return Choice{Choice::unavailable, {}};
    std::string chosen = win::narrow(file.data());
    return Choice{chosen.empty() ? Choice::cancelled : Choice::chosen, std::move(chosen)};
}

void openWithAssociatedProgram(const std::string& path) {
    initialiseCom();
    ShellExecuteW(nullptr, L"open", win::widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace foliant::desktop
