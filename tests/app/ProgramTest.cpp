// Whole-program tests: the staged Orvix.exe as a user starts it.
#include "ProcessHelpers.h"

#include <gtest/gtest.h>

using namespace orvix_test;

TEST(Program, ShowsItsMainWindowAndEndsCleanlyWhenClosed)
{
    RunningProgram p;
    ASSERT_TRUE(p.Start(StagedDir() + L"Orvix.exe"));
    HWND w = p.WaitForWindow(15000);
    ASSERT_NE(w, nullptr) << "no window appeared";

    RECT rc{};
    GetClientRect(w, &rc);
    EXPECT_EQ(rc.right - rc.left, 640);
    EXPECT_EQ(rc.bottom - rc.top, 520);
    wchar_t caption[64]{};
    GetWindowTextW(w, caption, 64);
    EXPECT_STREQ(caption, L"Orvix");
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the border must not be sizeable";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);

    PostMessageW(w, WM_CLOSE, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(15000, &code)) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(code, 0u);
}
