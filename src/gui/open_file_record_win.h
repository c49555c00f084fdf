// The record the open-file dialog is described by; separate so that the
// Windows tests can check it field by field.
#pragma once

// windows.h first: the other headers need its types.
#include <windows.h>

#include <commdlg.h>

namespace foliant::gui {

inline constexpr DWORD PATH_BUFFER_SIZE = 260;

// Fills `record` in full; `file` and `fileTitle` hold PATH_BUFFER_SIZE bytes.
void fillOpenFileRecord(OPENFILENAMEA& record, char* file, char* fileTitle);

}  // namespace foliant::gui
