// Looking at folders on drives that may have no medium (an empty card reader, a drive
// without its disc): without the system's "no disk in the drive" box, and with the
// listing form that every supported system accepts.
#pragma once

#include "framework/WinHandles.h"

#include <windows.h>

#include <string>

// While it lives, the calling thread gets failures instead of critical-error boxes. The
// per-thread switch came with Windows 7; before it, the process-wide one is used.
class TNoCriticalErrorBoxes {
public:
    TNoCriticalErrorBoxes();
    ~TNoCriticalErrorBoxes();
    TNoCriticalErrorBoxes(const TNoCriticalErrorBoxes&) = delete;
    TNoCriticalErrorBoxes& operator=(const TNoCriticalErrorBoxes&) = delete;

private:
    UINT old_ = 0;
    bool perThread_ = false;
    bool set_ = false;
};

// Opens a listing of what Pattern matches, with no error boxes. It asks for the quick
// form (no short names, large fetches), which systems before Windows 7 refuse with
// ERROR_INVALID_PARAMETER, and then for the plain one. On failure: an empty holder and
// the system's error in Error (ERROR_FILE_NOT_FOUND when nothing matches).
fw::FindHandle FindFirstEntry(const std::wstring& Pattern, FINDEX_SEARCH_OPS Search,
                              WIN32_FIND_DATAW& Data, DWORD& Error);

// The system call behind FindFirstEntry; tests put one that answers as another system
// would here.
using FindFirstFileExFn = HANDLE(WINAPI*)(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS,
                                          LPVOID, DWORD);
extern FindFirstFileExFn FindFirstFileExRoutine;
