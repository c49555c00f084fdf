// The record the open-file dialog is described by; separate so that the
// Windows tests can check it field by field.
#pragma once

// windows.h first: commdlg.h builds on it.
#include <windows.h>

#include <commdlg.h>

namespace foliant::desktop {

// Room for any path the wide calls take. With MAX_PATH a longer path makes
// the dialog fail and leave a binary size in the buffer, not a name.
inline constexpr DWORD FILE_BUFFER_SIZE = 32768;
// The chosen file's name alone, which is at most 255 characters.
inline constexpr DWORD FILE_TITLE_BUFFER_SIZE = MAX_PATH;

// Fills `record` in full; `file` holds FILE_BUFFER_SIZE wide characters and
// `fileTitle` FILE_TITLE_BUFFER_SIZE.
void fillOpenFileRecord(OPENFILENAMEW& record, wchar_t* file, wchar_t* fileTitle);

}  // namespace foliant::desktop
