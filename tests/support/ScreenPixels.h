// What the screen shows of a window: the tests' way to see a picture as a user does.
#pragma once

#include <windows.h>

namespace testsupport {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// Mean colour of a rectangle of a window's client area (client coordinates) as the
// screen shows it now; zeros for an empty rectangle.
Rgb ScreenMean(HWND wnd, const RECT& client);
// The same over the whole client area.
Rgb ScreenMean(HWND wnd);

// True when every channel of m is within tolerance of c.
bool NearColour(const Rgb& m, COLORREF c, double tolerance = 8);

}  // namespace testsupport
