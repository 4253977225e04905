#include "quillhook/HookThread.h"

namespace hookthread {

namespace {

struct TStartRequest {
    HookSetter setter;
    int id;
    HOOKPROC proc;
    HINSTANCE module;
    AfterMessages after;
    HANDLE done;
    HHOOK hook;
};

// A hook procedure runs inside the call that takes the thread's messages, and the system
// has its answer once the procedure returns; what After does comes after that answer.
void PumpWithAfter(AfterMessages After) {
    MSG msg;
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                After();
                return;
            }
            DispatchMessageW(&msg);
        }
        After();
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

DWORD WINAPI HookThreadMain(void* Param) {
    auto* request = static_cast<TStartRequest*>(Param);
    const AfterMessages after = request->after;
    MSG msg;
    // The queue exists before the caller learns of the thread, so its quit message lands.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const HHOOK hook = request->setter(request->id, request->proc, request->module, 0);
    request->hook = hook;
    SetEvent(request->done);  // the last touch of *request
    if (!hook) return 0;
    if (after)
        PumpWithAfter(after);
    else
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return UnhookWindowsHookEx(hook) ? 1 : 0;
}

void Forget(THookThread& Hook) {
    CloseHandle(Hook.thread);
    Hook.thread = nullptr;
    Hook.threadId = 0;
}

}  // namespace

HHOOK Start(THookThread& Hook, HookSetter Setter, int Id, HOOKPROC Proc, HINSTANCE Module,
            AfterMessages After) {
    TStartRequest request{Setter, Id, Proc, Module, After,
                          CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (!request.done) return nullptr;
    Hook.thread = CreateThread(nullptr, 0, HookThreadMain, &request, 0, &Hook.threadId);
    if (Hook.thread) {
        WaitForSingleObject(request.done, INFINITE);
        if (!request.hook) {  // the thread ends at once
            WaitForSingleObject(Hook.thread, INFINITE);
            Forget(Hook);
        }
    }
    CloseHandle(request.done);
    return request.hook;
}

bool Stop(THookThread& Hook) {
    if (!Hook.thread) return false;
    PostThreadMessageW(Hook.threadId, WM_QUIT, 0, 0);
    // The thread never waits for anyone, so it ends at once.
    WaitForSingleObject(Hook.thread, INFINITE);
    DWORD removed = 0;
    GetExitCodeThread(Hook.thread, &removed);
    Forget(Hook);
    return removed == 1;
}

}  // namespace hookthread
