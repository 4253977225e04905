// The program's side of Quillhook: installs the desktop-wide hook that holds back the
// screen saver and the monitor power-off, and removes it again.
#pragma once

#include <windows.h>

// Registered id of the "Quillhook" message; 0 until the main window module sets it.
// With 0 the hook is never installed.
extern UINT SaverHookMessage;

// Installs with the main window's handle; skipped for window 0 or message 0. A refused
// install (another program owns the hook) is not reported.
void InstallSaverHook(HWND Window);
void RemoveSaverHook();
