// Real pointer input through the system's queue, as a user's mouse gives it.
#pragma once

#include <windows.h>

namespace testsupport {

// A click at a screen point: the move, the press and the release each carry the point.
// A press without a position of its own happens wherever the cursor is by then, and the
// display server may still move the cursor between the three (it reports the pointer's
// earlier places late on a busy machine), so the press would land somewhere else.
void SendClick(int X, int Y, bool Right = false);

// The camera's snapshot key as the device sends it: scan code 0x64, an extended key,
// pressed and released.
inline constexpr WORD kCameraKeyScan = 0x64;
void SendCameraKey();

// A key pressed and released, as from the keyboard, with Shift held around it when asked.
void SendKey(WORD VirtualKey, bool Shift = false);

// Puts the real pointer at a screen point and waits until the system reports it there;
// false when it never did.
bool MovePointer(int X, int Y);

// Moves the real pointer to the screen's bottom right corner, where no test places a
// window. The display server keeps the pointer where the last program left it, and a
// window shown under it gets real mouse messages that a test did not send.
bool ParkPointer();

}  // namespace testsupport
