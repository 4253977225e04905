// Whole program: still pictures as a user takes them, with the pointer on the snapshot
// button and with the camera's key, into the picture folder of the settings file; the
// caption shows each picture's name for a moment; with the preview stopped the key takes
// nothing.
#include "ProcessHelpers.h"
#include "tests/support/Input.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace apptest;
using testsupport::TempFolder;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kWaitMs = 10000;

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int ClientHeight(HWND w) {
    RECT rc{};
    GetClientRect(w, &rc);
    return rc.bottom;
}

// Where the button bar is on the screen: it stays in place as the picture comes and goes.
int BarScreenTop(HWND w) {
    POINT p{0, ClientHeight(w) - 40};
    ClientToScreen(w, &p);
    return p.y;
}

// A whole JPEG file: starts with SOI and ends with EOI.
bool WholeJpeg(const std::wstring& path) {
    const std::string b = testsupport::FileBytes(path);
    return b.size() > 4 && static_cast<unsigned char>(b[0]) == 0xFF &&
           static_cast<unsigned char>(b[1]) == 0xD8 &&
           static_cast<unsigned char>(b[b.size() - 2]) == 0xFF &&
           static_cast<unsigned char>(b[b.size() - 1]) == 0xD9;
}

class SnapshotProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(copy.Ok());
        std::string folder(pictures.Path().begin(), pictures.Path().end());
        ASSERT_TRUE(WriteFileBytes(copy.Dir() + L"Orvix.ini",
                                   "[Option]\r\nImageFolder=" + folder + "\r\n"));
    }

    // Waits until the caption ends with name, then until it is the plain title again.
    void ExpectNameThenPlainTitle(HWND w, const std::wstring& name) {
        ASSERT_TRUE(WaitUntil([&] { return EndsWith(Caption(w), name); }, kWaitMs))
            << "caption: " << testing::PrintToString(Caption(w));
        const std::wstring shown = Caption(w);
        // The title on the left, the name pushed to the right end by blanks.
        EXPECT_EQ(shown.rfind(L"Orvix ", 0), 0u);
        EXPECT_GT(shown.size(), std::wstring(L"Orvix").size() + name.size() + 10);
        EXPECT_TRUE(WaitUntil([&] { return Caption(w) == L"Orvix"; }, kWaitMs))
            << "caption: " << testing::PrintToString(Caption(w));
    }

    TempFolder pictures{L"orvix_pictures"};
    ProgramCopy copy;
    RunningProgram p;
};

}  // namespace

TEST_F(SnapshotProgram, ButtonAndCameraKeyTakeNumberedPicturesOnlyWhileThePreviewRuns) {
    ASSERT_TRUE(p.Start(copy.Exe()));
    HWND w = p.WaitForWindow(kStartMs);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return LivePicture(w); }, kStartMs)) << "no live picture";
    // The camera buttons take clicks once the opening has ended, after the first picture.
    ASSERT_TRUE(WaitUntil([&] { return RecordButtonReady(w); }, kStartMs));
    EXPECT_EQ(Caption(w), L"Orvix");

    ClickBarButton(w, BarButton::Snap);
    ASSERT_TRUE(WaitUntil([&] { return WholeJpeg(pictures.Path() + L"image_kv_0.jpg"); }, kWaitMs))
        << "no picture after the click";
    ExpectNameThenPlainTitle(w, L"image_kv_0.jpg");

    ClickBarButton(w, BarButton::Snap);
    ASSERT_TRUE(WaitUntil([&] { return WholeJpeg(pictures.Path() + L"image_kv_1.jpg"); }, kWaitMs));
    ExpectNameThenPlainTitle(w, L"image_kv_1.jpg");

    testsupport::SendCameraKey();
    ASSERT_TRUE(WaitUntil([&] { return WholeJpeg(pictures.Path() + L"image_kv_2.jpg"); }, kWaitMs))
        << "no picture after the camera key";
    ExpectNameThenPlainTitle(w, L"image_kv_2.jpg");

    // Preview off: the window shrinks to its bar; the key and the button take nothing.
    // The window is resized before it is moved down to keep the bar in place, and a click
    // in between would miss: the bar is waited for where it was.
    const int barTop = BarScreenTop(w);
    ClickBarButton(w, BarButton::Preview);
    ASSERT_TRUE(WaitUntil(
        [&] { return ClientHeight(w) == 40 && std::abs(BarScreenTop(w) - barTop) <= 3; }, kWaitMs))
        << "height " << ClientHeight(w) << ", bar at " << BarScreenTop(w) << " not " << barTop;
    testsupport::SendCameraKey();
    ClickBarButton(w, BarButton::Snap);
    // Preview on again: a request kept from the stopped time would now be carried out
    // with the first frame and come before the next click's picture.
    ClickBarButton(w, BarButton::Preview);
    ASSERT_TRUE(WaitUntil([&] { return ClientHeight(w) > 40 && LivePicture(w); }, kStartMs))
        << "height " << ClientHeight(w) << ", caption " << testing::PrintToString(Caption(w))
        << ", boxes " << testing::PrintToString(testsupport::MessageBoxTexts(p.Pid()));
    ClickBarButton(w, BarButton::Snap);
    ASSERT_TRUE(WaitUntil(
        [&] { return pictures.Names().size() >= 4 && EndsWith(Caption(w), L".jpg"); }, kWaitMs));
    EXPECT_TRUE(WaitUntil([&] { return WholeJpeg(pictures.Path() + L"image_kv_3.jpg"); }, kWaitMs));
    EXPECT_EQ(pictures.Names(), (std::vector<std::wstring>{L"image_kv_0.jpg", L"image_kv_1.jpg",
                                                           L"image_kv_2.jpg", L"image_kv_3.jpg"}));
    EXPECT_TRUE(EndsWith(Caption(w), L"image_kv_3.jpg"));

    PostMessageW(w, WM_CLOSE, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(15000, &code));
    EXPECT_EQ(code, 0u);
}
