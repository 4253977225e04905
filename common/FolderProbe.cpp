#include "common/FolderProbe.h"

FindFirstFileExFn FindFirstFileExRoutine = &::FindFirstFileExW;

namespace {

using SetThreadErrorModeFn = BOOL(WINAPI*)(DWORD, DWORD*);

SetThreadErrorModeFn ThreadErrorModeRoutine() {
    static const SetThreadErrorModeFn routine = [] {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        FARPROC proc = kernel ? ::GetProcAddress(kernel, "SetThreadErrorMode") : nullptr;
        return reinterpret_cast<SetThreadErrorModeFn>(reinterpret_cast<void (*)()>(proc));
    }();
    return routine;
}

}  // namespace

TNoCriticalErrorBoxes::TNoCriticalErrorBoxes() {
    if (const SetThreadErrorModeFn setThreadMode = ThreadErrorModeRoutine()) {
        DWORD old = 0;
        perThread_ = true;
        // Asked twice: the first answer gives the flags already set, which stay.
        if (setThreadMode(SEM_FAILCRITICALERRORS, &old)) {
            old_ = old;
            set_ = true;
            setThreadMode(old | SEM_FAILCRITICALERRORS, nullptr);
        }
    } else {
        old_ = ::SetErrorMode(SEM_FAILCRITICALERRORS);
        ::SetErrorMode(old_ | SEM_FAILCRITICALERRORS);
        set_ = true;
    }
}

TNoCriticalErrorBoxes::~TNoCriticalErrorBoxes() {
    if (!set_) return;
    if (perThread_)
        ThreadErrorModeRoutine()(old_, nullptr);
    else
        ::SetErrorMode(old_);
}

fw::FindHandle FindFirstEntry(const std::wstring& Pattern, FINDEX_SEARCH_OPS Search,
                              WIN32_FIND_DATAW& Data, DWORD& Error) {
    TNoCriticalErrorBoxes quiet;
    fw::FindHandle find(FindFirstFileExRoutine(Pattern.c_str(), FindExInfoBasic, &Data, Search,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
    Error = find ? ERROR_SUCCESS : ::GetLastError();
    if (!find && Error == ERROR_INVALID_PARAMETER) {
        find.reset(
            FindFirstFileExRoutine(Pattern.c_str(), FindExInfoStandard, &Data, Search, nullptr, 0));
        Error = find ? ERROR_SUCCESS : ::GetLastError();
    }
    return find;
}
