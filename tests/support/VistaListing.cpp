#include "tests/support/VistaListing.h"

namespace testsupport {

int ListingsWithErrorBoxes = 0;

namespace {

// The thread's own switch where the system has one (Windows 7 on), else the process's.
bool ErrorBoxesOff() {
    using GetThreadErrorModeFn = DWORD(WINAPI*)();
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto threadMode = reinterpret_cast<GetThreadErrorModeFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "GetThreadErrorMode")));
    const UINT mode = threadMode ? threadMode() : ::GetErrorMode();
    return (mode & SEM_FAILCRITICALERRORS) != 0;
}

}  // namespace

HANDLE WINAPI VistaFindFirstFileEx(LPCWSTR name, FINDEX_INFO_LEVELS level, LPVOID data,
                                   FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
    if (!ErrorBoxesOff()) ++ListingsWithErrorBoxes;
    if (level == FindExInfoBasic || (flags & FIND_FIRST_EX_LARGE_FETCH) != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return ::FindFirstFileExW(name, level, data, search, filter, flags);
}

HANDLE WINAPI DeniedFindFirstFileEx(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS, LPVOID,
                                    DWORD) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

}  // namespace testsupport
