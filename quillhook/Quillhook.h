// The two exports of Quillhook.dll. Callers bind them by name at load time through
// the import library.
#pragma once

#include <windows.h>

extern "C" {

// Creates the shared record for Window/Message and installs the desktop-wide CBT hook.
// Returns TRUE when the hook is installed; FALSE for window 0, when another installer
// already owns the record, or when the hook cannot be set.
BOOL WINAPI HookCBTHook(HWND Window, UINT Message);

// Releases the record and removes the hook. Returns TRUE only when a hook was removed.
BOOL WINAPI UnhookCBTHook();
}
