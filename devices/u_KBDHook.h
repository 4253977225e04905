// The program's side of Pellhook, the maker's keyboard-hook library: starts and stops
// the reports of key events to the main window.
#pragma once

#include <windows.h>

// Registered id of the "Pellhook" message; 0 until the main window module sets it.
// With 0 the hook is never started.
extern UINT KeyHookMessage;

// Starts the reports to Window; skipped for window 0 or message 0.
void InstallKeyHook(HWND Window);
void RemoveKeyHook();

// The event record of a "Pellhook" message, called from the window procedure that
// received it, however the message arrived (sent from another thread, as the library's
// hook thread does, or posted). An lParam that is not a readable record gives false.
bool ReadKeyHookRecord(LPARAM lParam, KBDLLHOOKSTRUCT& Record);

// True for the key record of the camera key being released: scan code low byte 0x64,
// flags with both LLKHF_UP (0x80) and LLKHF_EXTENDED (0x01).
bool IsCameraKeyRelease(const KBDLLHOOKSTRUCT& Record);
