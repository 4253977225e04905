#include "devices/u_Quillhook.h"

#include "devices/SaverHookHost.h"
#include "quillhook/Quillhook.h"

UINT SaverHookMessage = 0;

void InstallSaverHook(HWND Window) {
    if (!Window || SaverHookMessage == 0) return;
    // A refused install is not reported; only an install of ours gets its 64-bit half.
    if (HookCBTHook(Window, SaverHookMessage)) StartSaverHookHost(Window, SaverHookMessage);
}

void RemoveSaverHook() {
    StopSaverHookHost();
    UnhookCBTHook();
}

namespace {

FARPROC SystemUser32Routine(const char* Name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? ::GetProcAddress(user32, Name) : nullptr;
}

// GetProcAddress hands back a generic function type; going through void(*)() keeps the
// compiler's function-cast check quiet for the real signature.
template <typename Fn>
Fn ProcAs(FARPROC Proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(Proc));
}

}  // namespace

TUser32Lookup User32Routine = &SystemUser32Routine;

void AllowSaverNotices(HWND Window) {
    if (!Window || SaverHookMessage == 0) return;
    // Both looked up at run time: the newer one is missing before Windows 7, and systems
    // before Vista have neither (nor the filtering).
    using FilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
    constexpr DWORD kMsgFltAllow = 1;  // MSGFLT_ALLOW
    constexpr DWORD kMsgFltAdd = 1;    // MSGFLT_ADD
    if (auto filterEx = ProcAs<FilterExFn>(User32Routine("ChangeWindowMessageFilterEx"))) {
        filterEx(Window, SaverHookMessage, kMsgFltAllow, nullptr);
    } else if (auto filter = ProcAs<FilterFn>(User32Routine("ChangeWindowMessageFilter"))) {
        filter(SaverHookMessage, kMsgFltAdd);
    }
}
