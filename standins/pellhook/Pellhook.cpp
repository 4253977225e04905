// Pellhook.dll stand-in: watches the keyboard with a low-level hook and hands every key
// event to one window of this process as a sent message whose lParam points at the
// event record (laid out as KBDLLHOOKSTRUCT). Entry points by ordinal only:
//   1  install(window, message)
//   2  remove()

#include <windows.h>

namespace {

HINSTANCE LibraryInstance = nullptr;
HHOOK KeyboardHook = nullptr;
HWND TargetWindow = nullptr;
UINT TargetMessage = 0;

// A window on another thread that stops answering must not stall the keyboard of the
// whole desktop; the system itself drops low-level hooks that take too long.
constexpr UINT DeliveryTimeoutMs = 200;

bool IsOwnWindow(HWND window) {
    DWORD process = 0;
    // 0 for a window that no longer exists. A window of another process could not read
    // the record through the pointer, so it is skipped as well.
    return GetWindowThreadProcessId(window, &process) != 0 && process == GetCurrentProcessId();
}

LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && TargetWindow && IsOwnWindow(TargetWindow)) {
        // A copy, so the window cannot alter what the next hook in the chain sees; it
        // lives until the window has handled the message.
        KBDLLHOOKSTRUCT event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(TargetWindow, TargetMessage, wParam, reinterpret_cast<LPARAM>(&event),
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, DeliveryTimeoutMs, &result);
    }
    return CallNextHookEx(KeyboardHook, code, wParam, lParam);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LibraryInstance = instance;
    return TRUE;
}

// Ordinal 1. A second call only retargets the one hook, so nothing is delivered twice.
// Low-level hooks run on the installing thread, which must pump messages.
extern "C" void WINAPI PellhookInstall(HWND window, UINT message) {
    if (!window || !message) return;
    TargetWindow = window;
    TargetMessage = message;
    if (!KeyboardHook)
        KeyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardProc, LibraryInstance, 0);
}

// Ordinal 2. Harmless without a prior install.
extern "C" void WINAPI PellhookRemove() {
    if (KeyboardHook) UnhookWindowsHookEx(KeyboardHook);
    KeyboardHook = nullptr;
    TargetWindow = nullptr;
    TargetMessage = 0;
}
