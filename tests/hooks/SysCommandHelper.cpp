// Helper process: sends WM_SYSCOMMAND (wParam, lParam given in hex) to a window of its
// own and reports what the CBT hook chain decided, as seen by a hook of this thread that
// is called ahead of the desktop-wide hooks.
// Exit code: 0 the command would go ahead, 1 it was cancelled, 10 the chain never saw
// it, 11 bad arguments or no window.

#include <windows.h>

#include <cwchar>

namespace {

HHOOK LocalHook = nullptr;
int Verdict = 10;

LRESULT CALLBACK ObserveCBT(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_SYSCOMMAND) {
        Verdict = CallNextHookEx(LocalHook, code, wParam, lParam) ? 1 : 0;
        // The decision is all that is wanted: the command itself never runs here.
        return 1;
    }
    return CallNextHookEx(LocalHook, code, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 11;
    WPARAM command = static_cast<WPARAM>(std::wcstoul(argv[1], nullptr, 16));
    LPARAM parameter = static_cast<LPARAM>(static_cast<LONG>(std::wcstoul(argv[2], nullptr, 16)));

    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HooksSysCommandTarget";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 11;

    LocalHook = SetWindowsHookExW(WH_CBT, ObserveCBT, nullptr, GetCurrentThreadId());
    if (!LocalHook) return 11;
    SendMessageW(window, WM_SYSCOMMAND, command, parameter);
    UnhookWindowsHookEx(LocalHook);
    DestroyWindow(window);
    return Verdict;
}
