// Helper process: a second installer of Quillhook.
// Arguments: window (hex), message (hex), name of an event to set once HookCBTHook has
// returned, name of an event to wait for before UnhookCBTHook.
// Exit code: bit 0 the result of HookCBTHook, bit 1 the result of UnhookCBTHook,
// 8 when it was never told to go on, 16 bad arguments.

#include "quillhook/Quillhook.h"
#include "quillhook/SaverRecord.h"

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 16;
    HWND window =
        quillhook::UnpackWindow(static_cast<uint32_t>(std::wcstoul(argv[1], nullptr, 16)));
    UINT message = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 16));
    HANDLE installed = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    HANDLE proceed = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (!installed || !proceed) return 16;

    int result = HookCBTHook(window, message) ? 1 : 0;
    SetEvent(installed);
    if (WaitForSingleObject(proceed, 20000) != WAIT_OBJECT_0) result |= 8;
    if (UnhookCBTHook()) result |= 2;
    CloseHandle(installed);
    CloseHandle(proceed);
    return result;
}
