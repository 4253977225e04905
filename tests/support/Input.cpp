#include "tests/support/Input.h"

#include "tests/support/Wait.h"

namespace testsupport {

void SendClick(int X, int Y, bool Right) {
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3]{};
    const DWORD flags[3] = {
        0, static_cast<DWORD>(Right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
        static_cast<DWORD>(Right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_MOUSE;
        // The normalised position whose pixel is exactly (X, Y): 0..65535 spans the screen.
        in[i].mi.dx = static_cast<LONG>((X * 65536LL + w / 2) / w);
        in[i].mi.dy = static_cast<LONG>((Y * 65536LL + h / 2) / h);
        in[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags[i];
    }
    ::SendInput(3, in, sizeof(INPUT));
}

void SendCameraKey() {
    INPUT in[2]{};
    for (INPUT& i : in) {
        i.type = INPUT_KEYBOARD;
        i.ki.wScan = kCameraKeyScan;
        i.ki.dwFlags = KEYEVENTF_SCANCODE | KEYEVENTF_EXTENDEDKEY;
    }
    in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

void SendKey(WORD VirtualKey, bool Shift) {
    INPUT in[4]{};
    int n = 0;
    const auto key = [&](WORD vk, bool up) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wVk = vk;
        in[n].ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        in[n].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        ++n;
    };
    if (Shift) key(VK_SHIFT, false);
    key(VirtualKey, false);
    key(VirtualKey, true);
    if (Shift) key(VK_SHIFT, true);
    ::SendInput(static_cast<UINT>(n), in, sizeof(INPUT));
}

bool MovePointer(int X, int Y) {
    const auto there = [&] {
        POINT p{};
        return ::GetCursorPos(&p) && p.x == X && p.y == Y;
    };
    // The display server may still report where the pointer was before (late, on a busy
    // machine), which puts the cursor back there: the move is made again until it holds.
    for (int attempt = 0; attempt < 40; ++attempt) {
        ::SetCursorPos(X, Y);
        if (WaitUntil(there, 500)) return true;
    }
    return false;
}

bool ParkPointer() {
    return MovePointer(::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1);
}

}  // namespace testsupport
