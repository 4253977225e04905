#include "tests/support/ScreenPixels.h"

#include "framework/WinHandles.h"

#include <cmath>

namespace testsupport {

Rgb ScreenMean(HWND wnd, const RECT& client) {
    Rgb mean;
    POINT origin{client.left, client.top};
    ClientToScreen(wnd, &origin);
    const int w = client.right - client.left, h = client.bottom - client.top;
    if (w <= 0 || h <= 0) return mean;
    fw::ScopedGetDC screen(nullptr);
    fw::DcHandle mem(CreateCompatibleDC(screen));
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    fw::BitmapHandle bmp(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp || !bits) return mean;
    {
        fw::ScopedSelectObject select(mem.get(), bmp.get());
        BitBlt(mem.get(), 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    }
    const auto* px = static_cast<const BYTE*>(bits);
    for (int i = 0; i < w * h; ++i) {
        mean.b += px[i * 4 + 0];
        mean.g += px[i * 4 + 1];
        mean.r += px[i * 4 + 2];
    }
    const double n = static_cast<double>(w) * h;
    mean.r /= n;
    mean.g /= n;
    mean.b /= n;
    return mean;
}

Rgb ScreenMean(HWND wnd) {
    RECT client{};
    GetClientRect(wnd, &client);
    return ScreenMean(wnd, client);
}

bool NearColour(const Rgb& m, COLORREF c, double tolerance) {
    return std::abs(m.r - GetRValue(c)) <= tolerance && std::abs(m.g - GetGValue(c)) <= tolerance &&
           std::abs(m.b - GetBValue(c)) <= tolerance;
}

}  // namespace testsupport
