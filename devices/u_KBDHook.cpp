#include "devices/u_KBDHook.h"

// Pellhook's entry points have no names; the import library binds these declarations
// to ordinals 1 and 2.
extern "C" {
void WINAPI PellhookInstall(HWND Window, UINT Message);
void WINAPI PellhookRemove();
}

UINT KeyHookMessage = 0;

void InstallKeyHook(HWND Window) {
    if (Window && KeyHookMessage) PellhookInstall(Window, KeyHookMessage);
}

void RemoveKeyHook() {
    PellhookRemove();
}
