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

void RemoveKeyHook() { PellhookRemove(); }

bool ReadKeyHookRecord(LPARAM lParam, KBDLLHOOKSTRUCT& Record) {
    // How the report arrives says nothing about it: the library hands it over from its own
    // hook thread (a message sent from another thread), and Windows itself runs a
    // low-level hook as a sent message. Any program allowed to post to the window can put
    // any number here: copied through a call that reports an unreadable address instead
    // of faulting on it, so a foreign number is at worst a readable record of our own.
    if (lParam == 0) return false;
    SIZE_T read = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(lParam),
                               &Record, sizeof(Record), &read) &&
           read == sizeof(Record);
}

bool IsCameraKeyRelease(const KBDLLHOOKSTRUCT& Record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&Record);
    return bytes[4] == 0x64 && (bytes[8] & 0x81) == 0x81;
}
