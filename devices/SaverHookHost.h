// The 64-bit half of the screen-saver hook for the 32-bit program on 64-bit Windows: a
// 32-bit hook library reaches only 32-bit programs, so a small 64-bit program beside it
// (x64\QuillhookHost.exe with its 64-bit Quillhook) sets the hook for the 64-bit ones.
#pragma once

#include <windows.h>

// Starts the host for Window and Message once this process's Quillhook holds the record,
// when this is a 32-bit program on 64-bit Windows; otherwise does nothing. The host ends
// with this process whatever ends it.
void StartSaverHookHost(HWND Window, UINT Message);
// Ends the host, if one runs, and waits for it.
void StopSaverHookHost();
