// Folder listings as Windows Vista answers them, for the program's listing seam
// (FindFirstFileExRoutine in common/FolderProbe.h).
#pragma once

#include <windows.h>

namespace testsupport {

// FindFirstFileExW as Vista answers: the quick form (FindExInfoBasic, or the flag
// FIND_FIRST_EX_LARGE_FETCH) is refused with ERROR_INVALID_PARAMETER; the plain form
// goes to the system. Each call also notes whether critical-error boxes were off.
HANDLE WINAPI VistaFindFirstFileEx(LPCWSTR name, FINDEX_INFO_LEVELS level, LPVOID data,
                                   FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags);
// Calls of the above made while the calling thread would have shown such boxes.
extern int ListingsWithErrorBoxes;

// A listing that fails as a folder without read access does.
HANDLE WINAPI DeniedFindFirstFileEx(LPCWSTR name, FINDEX_INFO_LEVELS level, LPVOID data,
                                    FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags);

}  // namespace testsupport
