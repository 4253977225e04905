// Shared fixture: a fresh application object per test and message pumping with
// a bounded wait.
#pragma once

#include "framework/Application.h"

#include <gtest/gtest.h>

#include <windows.h>

class FrameworkTest : public ::testing::Test {
protected:
    void TearDown() override { app.ProcessMessages(); }

    template <typename Pred>
    bool PumpUntil(Pred pred, DWORD timeoutMs = 3000) {
        return app.ProcessMessagesUntil(pred, timeoutMs);
    }
    // Services the queue for a short while (for "nothing more happens" checks).
    void PumpFor(DWORD ms) {
        app.ProcessMessagesUntil([] { return false; }, ms);
    }

    fw::Application app;
};

inline LPARAM MousePos(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
}
