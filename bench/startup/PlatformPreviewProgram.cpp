// The preview a user would have without Orvix, as a program of its own: a window with the
// picture area's client size (640 x 480) showing the stand-in camera through the
// platform's preview at 640 x 480, until the window is closed.
#include "bench/support/PlatformPreview.h"
#include "standins/vcam/VCamConfig.h"

#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"OrvixBenchPlatformPreview";
    ::RegisterClassW(&wc);
    RECT frame{0, 0, 640, 480};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    ::AdjustWindowRect(&frame, style, FALSE);
    HWND window = ::CreateWindowW(wc.lpszClassName, L"Platform preview", style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) return 2;
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
    int result = 0;
    {
        bench::PlatformPreview preview;
        if (!preview.Build(bench::VideoDeviceByName(vcam::kCameraName).Get(), 640, 480,
                           window) ||
            !preview.Run())
            result = 3;
        MSG msg;
        while (result == 0 && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    ::CoUninitialize();
    return result;
}
