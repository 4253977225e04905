// QuillhookHost.exe, the 64-bit half of the 32-bit Orvix on 64-bit Windows: a 32-bit hook
// library is loaded only into 32-bit programs, so this program sets the 64-bit Quillhook
// beside it for the 64-bit ones. The record that names Orvix's window is Orvix's own; the
// notices go there as from the 32-bit hook. Ends when told to (a quit message to its
// thread) or when Orvix ends, however it ends.
//
// Arguments: Orvix's window (hex), the notice's message id (hex), Orvix's process id.
// Exit code: 0 after Orvix ended or asked it to end, 2 bad arguments, 3 Orvix is gone or
// the window is not its, 4 the hook could not be set.

#include "quillhook/Quillhook.h"
#include "quillhook/SaverRecord.h"

#include "framework/WinHandles.h"

#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) return 2;
    const HWND window =
        quillhook::UnpackWindow(static_cast<uint32_t>(std::wcstoul(argv[1], nullptr, 16)));
    const UINT message = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 16));
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
    LocalFree(argv);

    fw::Handle orvix(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!orvix) return 3;
    // A process id can be reused: the window proves that the handle is Orvix's.
    DWORD owner = 0;
    if (!GetWindowThreadProcessId(window, &owner) || owner != pid) return 3;
    if (!JoinCBTHook(window, message)) return 4;

    const HANDLE waitFor = orvix.get();
    bool running = true;
    while (running) {
        if (MsgWaitForMultipleObjects(1, &waitFor, FALSE, INFINITE, QS_ALLINPUT) !=
            WAIT_OBJECT_0 + 1)
            break;  // Orvix ended (or the wait failed: nothing left to watch)
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) running = false;
            DispatchMessageW(&msg);
        }
    }
    UnhookCBTHook();
    return 0;
}
