// The exports of Quillhook.dll. Callers bind them by name at load time through
// the import library.
#pragma once

#include <windows.h>

extern "C" {

// Creates the shared record for Window/Message and installs the desktop-wide CBT hook.
// Returns TRUE when the hook is installed; FALSE for window 0, when another installer
// already owns the record, or when the hook cannot be set.
BOOL WINAPI HookCBTHook(HWND Window, UINT Message);

// For the 64-bit half of a 32-bit program on 64-bit Windows: installs this library's hook
// beside the installer that already holds the record for Window and Message, without a
// record of its own. FALSE when there is no such record or the hook cannot be set.
BOOL WINAPI JoinCBTHook(HWND Window, UINT Message);

// Releases the record (if this process holds it) and removes the hook. Returns TRUE only
// when a hook was removed.
BOOL WINAPI UnhookCBTHook();
}
