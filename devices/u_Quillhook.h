// The program's side of Quillhook: installs the desktop-wide hook that holds back the
// screen saver and the monitor power-off, and removes it again.
#pragma once

#include <windows.h>

// Registered id of the "Quillhook" message; 0 until the main window module sets it.
// With 0 the hook is never installed.
extern UINT SaverHookMessage;

// Installs with the main window's handle; skipped for window 0 or message 0. A refused
// install (another program owns the hook) is not reported. A 32-bit program on 64-bit
// Windows also starts the 64-bit half for the 64-bit programs (SaverHookHost.h).
void InstallSaverHook(HWND Window);
// Removes the hook (and its 64-bit half).
void RemoveSaverHook();

// Lets the hook's notices, posted from ordinary programs, reach the elevated Window: the
// system drops messages from lower integrity levels unless they are let through. Uses
// ChangeWindowMessageFilterEx (Windows 7: this window only) where the system has it,
// else ChangeWindowMessageFilter (Vista: the whole process); nothing before Vista.
// Skipped for window 0 or message 0.
void AllowSaverNotices(HWND Window);

// How AllowSaverNotices finds a routine of user32 by name (null when missing); tests put
// one here that answers as an older system would.
using TUser32Lookup = FARPROC (*)(const char* Name);
extern TUser32Lookup User32Routine;
