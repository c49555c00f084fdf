// windows.h first: the other headers need its types.
#include <windows.h>

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

#include "gui/desktop.h"
#include "gui/open_file_record_win.h"

namespace foliant::gui {
namespace {

// The shell and the dialog expect COM on the calling thread, apartment-threaded.
void initialiseCom() {
    static const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)initialised;
}

}  // namespace

void fillOpenFileRecord(OPENFILENAMEA& record, char* file, char* fileTitle) {
    record = OPENFILENAMEA{};
    // The size without the fields Windows 2000 added: 76 in a 32-bit build,
    // and what a 64-bit build needs (76 there makes the call fail at once).
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.hwndOwner = nullptr;
    record.hInstance = nullptr;
    // Pairs of zero-terminated strings; the literal's own zero ends the list.
    record.lpstrFilter = "Text Document Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    record.nFilterIndex = 1;
    file[0] = '\0';
    record.lpstrFile = file;
    record.nMaxFile = PATH_BUFFER_SIZE;
    fileTitle[0] = '\0';
    record.lpstrFileTitle = fileTitle;
    record.nMaxFileTitle = PATH_BUFFER_SIZE;
    record.Flags = OFN_CREATEPROMPT | OFN_HIDEREADONLY;
    record.lpstrDefExt = "txt";
}

std::string askForFileName() {
    initialiseCom();
    char file[PATH_BUFFER_SIZE];
    char fileTitle[PATH_BUFFER_SIZE];
    OPENFILENAMEA record;
    fillOpenFileRecord(record, file, fileTitle);
    // An empty name afterwards is a cancel, whatever the call returned.
    GetOpenFileNameA(&record);
    return file;
}

void openWithAssociatedProgram(const std::string& path) {
    initialiseCom();
    std::fflush(stdout);
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace foliant::gui
