// Shared fixture: a fresh application object per test, and witnesses that prove that
// nothing more happens.
#pragma once

#include "framework/Application.h"
#include "framework/Timer.h"
#include "tests/support/Input.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <windows.h>

using testsupport::PumpUntil;

class FrameworkTest : public ::testing::Test {
protected:
    // The messages of each case are its own: no real pointer over its windows.
    void SetUp() override { ASSERT_TRUE(testsupport::ParkPointer()); }
    void TearDown() override { app.ProcessMessages(); }

    // "Nothing more happens" is proved by something that did happen afterwards:
    // a witness timer of this interval ticking `ticks` times (a timer of the same or a
    // shorter interval would have ticked meanwhile) ...
    bool PumpWitnessTicks(UINT intervalMs, int ticks) {
        fw::Timer witness(nullptr);
        witness.SetInterval(intervalMs);
        int seen = 0;
        witness.OnTimer = [&] { ++seen; };
        witness.SetEnabled(true);
        return PumpUntil([&] { return seen >= ticks; });
    }
    // ... or a message posted now coming round (everything posted before it has been
    // dispatched by then).
    bool PumpPostedRoundTrip() {
        static bool arrived;
        arrived = false;
        WNDCLASSW wc{};
        wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) CALLBACK -> LRESULT {
            if (m == WM_APP + 99) {
                arrived = true;
                return 0;
            }
            return ::DefWindowProcW(h, m, w, l);
        };
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvixRoundTrip";
        ::RegisterClassW(&wc);
        HWND probe = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                       nullptr, wc.hInstance, nullptr);
        ::PostMessageW(probe, WM_APP + 99, 0, 0);
        const bool ok = PumpUntil([] { return arrived; });
        ::DestroyWindow(probe);
        return ok;
    }

    fw::Application app;
};

inline LPARAM MousePos(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)),
                      static_cast<WORD>(static_cast<short>(y)));
}
