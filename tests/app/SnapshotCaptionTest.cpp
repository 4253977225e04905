// The main window's side of a snapshot without a running camera: the saved name handed
// over from another thread to the caption, the plain title restored by tmrErase, a late
// report after the window has gone, and the command with the camera inactive.
#include "MainWindowFixture.h"
#include "capture/GDirectCapPin2.h"
#include "tests/capture/ControlProbe.h"
#include "ui/TntGButton.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using apptest::Caption;
using testsupport::PumpUntil;

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class SnapshotCaption : public apptest::MainWindowTest {
protected:
    void SetUp() override { CreateMainWindow(Texts::Test); }

    // A report as the capture control raises it: on a thread of its own.
    void ReportFromStream(const std::wstring& name) {
        const TSnapShotEvent handler = form->gcap->OnSnapShot;
        std::thread stream([&] { handler(name); });
        stream.join();
    }
};

}  // namespace

TEST_F(SnapshotCaption, NameFromTheStreamingThreadShowsAtTheRightAndThePlainTitleComesBack) {
    ASSERT_TRUE(form->gcap->OnSnapShot);
    ReportFromStream(L"C:\\pictures\\image_kv_3.jpg");
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(Caption(wnd), L" image_kv_3.jpg"); }))
        << testing::PrintToString(Caption(wnd));
    EXPECT_EQ(Caption(wnd).rfind(L"Orvix under test ", 0), 0u);
    EXPECT_EQ(CaptionStatus, L"image_kv_3.jpg");
    EXPECT_TRUE(form->tmrErase->Enabled());

    // A second picture replaces the name; the running timer is left as it is.
    ReportFromStream(L"C:\\pictures\\image_kv_4.jpg");
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(Caption(wnd), L" image_kv_4.jpg"); }));
    EXPECT_TRUE(form->tmrErase->Enabled());

    form->tmrEraseTimer();
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
    EXPECT_FALSE(form->tmrErase->Enabled());

    // The real interval restores the title by itself.
    ReportFromStream(L"D:\\image_kv_5.jpg");
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(Caption(wnd), L" image_kv_5.jpg"); }));
    EXPECT_TRUE(PumpUntil([&] { return Caption(wnd) == L"Orvix under test"; }));
    EXPECT_FALSE(form->tmrErase->Enabled());
}

TEST_F(SnapshotCaption, DuringARecordingTheRunningTimeComesBackInsteadOfThePlainTitle) {
    form->gcapCaptureProgress(65);
    const std::wstring recording = Caption(wnd);
    ASSERT_TRUE(EndsWith(recording, L" 00:01:05")) << testing::PrintToString(recording);
    ReportFromStream(L"C:\\pictures\\image_kv_7.jpg");
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(Caption(wnd), L" image_kv_7.jpg"); }));
    form->tmrEraseTimer();
    EXPECT_EQ(Caption(wnd), recording);
}

TEST_F(SnapshotCaption, ReportAfterTheWindowHasGoneChangesNothing) {
    const TSnapShotEvent handler = form->gcap->OnSnapShot;
    CloseMainWindow();
    std::thread stream([&] { handler(L"C:\\pictures\\image_kv_0.jpg"); });
    stream.join();
    app.ProcessMessages();
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(SnapshotCaption, CommandWithTheCameraInactiveLeavesTheButtonDisabled) {
    ASSERT_FALSE(form->IsCameraActive());
    form->gbSnap->SetEnabled(true);
    form->gbSnapClick();
    EXPECT_FALSE(form->gbSnap->Enabled());
    EXPECT_FALSE(captest::ControlProbe::VideoCallback(*form->gcap).HasOnNextBuffer());
}
