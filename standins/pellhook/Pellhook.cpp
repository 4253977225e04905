// Pellhook.dll stand-in: watches the keyboard with a low-level hook and hands every key
// event to one window of this process as a sent message whose lParam points at the
// event record (laid out as KBDLLHOOKSTRUCT). Entry points by ordinal only:
//   1  install(window, message)
//   2  remove()
//
// The system calls a low-level hook on the thread that installed it and drops a hook that
// keeps it waiting (LowLevelHooksTimeout, Windows 7 and later). The window's thread is
// often busy for a while (a filter graph being built or stopped), so the hook lives on a
// thread of its own that does nothing but pump messages. The hook procedure only keeps a
// copy of the event and answers the system at once; the thread hands the events on after
// that answer, in order and without waiting for the window.

#include "quillhook/HookThread.h"

#include <windows.h>

#include <new>

namespace {

HINSTANCE LibraryInstance = nullptr;

// The target, read by the hook thread and set by the caller's thread.
CRITICAL_SECTION TargetLock;
HWND TargetWindow = nullptr;
UINT TargetMessage = 0;

// The hook on its thread; only the installing and removing thread touches these.
hookthread::THookThread HookThread = {};
HHOOK KeyboardHook = nullptr;

bool IsOwnWindow(HWND window) {
    DWORD process = 0;
    // 0 for a window that no longer exists. A window of another process could not read
    // the record through the pointer, so it is skipped as well.
    return GetWindowThreadProcessId(window, &process) != 0 && process == GetCurrentProcessId();
}

// A key event on its way: the record the message's lParam points at, and where it goes.
struct TQueuedKey {
    KBDLLHOOKSTRUCT record;
    WPARAM key;
    HWND window;
    UINT message;
    TQueuedKey* next;
};

// Events not handed on yet, oldest first; the hook thread's own.
TQueuedKey* QueueHead = nullptr;
TQueuedKey* QueueTail = nullptr;

// The window has handled the message: its record may go. Called on the hook thread when
// it pumps, after the window procedure has returned.
void CALLBACK RecordHandled(HWND, UINT, ULONG_PTR queued, LRESULT) {
    delete reinterpret_cast<TQueuedKey*>(queued);
}

// Sent without waiting for the window: events queue up in order while its thread is busy
// and reach it when it is free. Each record lives until the window has handled it.
void HandOn() {
    while (TQueuedKey* key = QueueHead) {
        QueueHead = key->next;
        if (!IsOwnWindow(key->window) ||
            !SendMessageCallbackW(key->window, key->message, key->key,
                                  reinterpret_cast<LPARAM>(&key->record), RecordHandled,
                                  reinterpret_cast<ULONG_PTR>(key)))
            delete key;
    }
    QueueTail = nullptr;
}

LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        EnterCriticalSection(&TargetLock);
        const HWND window = TargetWindow;
        const UINT message = TargetMessage;
        LeaveCriticalSection(&TargetLock);
        // A copy of our own, so the window cannot alter what the next hook in the chain
        // sees; handed on once the system has its answer.
        if (window) {
            auto* key = new (std::nothrow) TQueuedKey{
                *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam), wParam, window, message,
                nullptr};
            if (key) {
                (QueueTail ? QueueTail->next : QueueHead) = key;
                QueueTail = key;
            }
        }
    }
    return CallNextHookEx(KeyboardHook, code, wParam, lParam);
}

void SetTarget(HWND window, UINT message) {
    EnterCriticalSection(&TargetLock);
    TargetWindow = window;
    TargetMessage = message;
    LeaveCriticalSection(&TargetLock);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        LibraryInstance = instance;
        InitializeCriticalSection(&TargetLock);
    }
    return TRUE;
}

// Ordinal 1. A second call only retargets the one hook, so nothing is delivered twice.
// Returns once the hook is in place.
extern "C" void WINAPI PellhookInstall(HWND window, UINT message) {
    if (!window || !message) return;
    SetTarget(window, message);
    if (!KeyboardHook)
        KeyboardHook = hookthread::Start(HookThread, SetWindowsHookExW, WH_KEYBOARD_LL,
                                         KeyboardProc, LibraryInstance, HandOn);
}

// Ordinal 2. Harmless without a prior install. Records of messages still on their way
// stay valid: the window may handle them after this.
extern "C" void WINAPI PellhookRemove() {
    SetTarget(nullptr, 0);
    hookthread::Stop(HookThread);
    KeyboardHook = nullptr;
}
