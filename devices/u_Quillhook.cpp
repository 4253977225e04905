#include "devices/u_Quillhook.h"

#include "quillhook/Quillhook.h"

UINT SaverHookMessage = 0;

void InstallSaverHook(HWND Window) {
    if (Window && SaverHookMessage) HookCBTHook(Window, SaverHookMessage);
}

void RemoveSaverHook() { UnhookCBTHook(); }
