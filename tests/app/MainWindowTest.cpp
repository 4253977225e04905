// The main window on the screen with the stand-in camera: the live picture, the bar in
// both layouts, the window following the picture size and the preview switch, the
// placement rules, and the busy-camera retry.
#include "MainWindowFixture.h"
#include "app/ButtonBarLayout.h"
#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "common/u_SysQuery.h"
#include "framework/Application.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/capture/ControlProbe.h"
#include "tests/support/Input.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/ScreenPixels.h"
#include "tests/capture/MediaProbe.h"
#include "ui/TntGButton.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <oleacc.h>
#include <pbt.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// Colours of the bar backgrounds and glyph strips the tests put into the images folder.
constexpr COLORREF kBigBarColor = RGB(0, 160, 0);
constexpr COLORREF kSmallBarColor = RGB(170, 90, 0);
constexpr COLORREF kOpenGlyphColor = RGB(10, 20, 230);
constexpr COLORREF kPreviewOnColor = RGB(250, 250, 0);
constexpr COLORREF kPreviewOffColor = RGB(0, 250, 250);

using apptest::Caption;
using apptest::WriteSolidBmp;
using testsupport::MessageBoxWatcher;
using testsupport::NearColour;
using testsupport::PumpUntil;
using testsupport::Rgb;
using testsupport::ScreenMean;

class MainWindow : public apptest::MainWindowTest {
protected:
    void SetUp() override {
        const std::wstring images = folder.MakeFolder(L"images") + L"\\";
        WriteSolidBmp(images + L"Back_Big.bmp", 640, 40, kBigBarColor);
        WriteSolidBmp(images + L"Back_Small.bmp", 352, 40, kSmallBarColor);
        WriteSolidBmp(images + L"gbOpen.bmp", 116, 32, kOpenGlyphColor);
        WriteSolidBmp(images + L"gbPreviewOn.bmp", 116, 32, kPreviewOnColor);
        WriteSolidBmp(images + L"gbPreviewOff.bmp", 116, 32, kPreviewOffColor);
        CreateMainWindow(Texts::Test);
    }

    // Screen row of the bar's top edge.
    int BarScreenTop() const {
        POINT p{0, form->Image_Back->Top()};
        ClientToScreen(wnd, &p);
        return p.y;
    }

    // The bar right under the picture, its buttons where the layout of its size puts them.
    void ExpectBarBelowPicture() {
        const int barTop = form->gcap->Top() + form->gcap->Height() + 1;
        EXPECT_EQ(form->Image_Back->Top(), barTop);
        EXPECT_EQ(form->Image_Back->Width(), form->gcap->Width());
        const TButtonBarPositions bar = ButtonBarLayout(form->ClientWidth() < 640, barTop);
        const TTntGButton* row[] = {form->gbOpenFolder, form->gbPreview,  form->gbForward,
                                    form->gbLens,       form->gbBackward, form->gbSnap,
                                    form->gbRecord};
        for (size_t i = 0; i < bar.RowLefts.size(); ++i) {
            EXPECT_EQ(row[i]->Left(), bar.RowLefts[i]) << i;
            EXPECT_EQ(row[i]->Top(), bar.Top) << i;
        }
        EXPECT_EQ(form->gbHelp->Left(), bar.HelpLeft);
        EXPECT_EQ(form->gbHelp->Top(), bar.Top);
        EXPECT_EQ(form->gbRecordOff->BoundsRect().left, form->gbRecord->BoundsRect().left);
        EXPECT_EQ(form->gbRecordOff->Top(), form->gbRecord->Top());
        EXPECT_EQ(form->gbRecordOff->Width(), form->gbRecord->Width());
        EXPECT_EQ(form->gbRecordOff->Height(), form->gbRecord->Height());
    }
};

}  // namespace

TEST(ButtonBar, BothLayoutsFromTheBarsTopEdge) {
    const TButtonBarPositions big = ButtonBarLayout(false, 481);
    EXPECT_EQ(std::vector<int>(big.RowLefts.begin(), big.RowLefts.end()),
              (std::vector<int>{179, 225, 271, 307, 340, 386, 432}));
    EXPECT_EQ(big.HelpLeft, 604);
    EXPECT_EQ(big.Top, 486);
    const TButtonBarPositions small = ButtonBarLayout(true, 289);
    EXPECT_EQ(std::vector<int>(small.RowLefts.begin(), small.RowLefts.end()),
              (std::vector<int>{20, 63, 106, 142, 175, 218, 261}));
    EXPECT_EQ(small.HelpLeft, 311);
    EXPECT_EQ(small.Top, 294);
}

TEST(PictureArea, FramesLargerThan640x480BothWaysAreShownAt640x480) {
    auto area = [](int w, int h) {
        const SIZE s = PictureAreaSize(w, h);
        return std::make_pair(static_cast<int>(s.cx), static_cast<int>(s.cy));
    };
    EXPECT_EQ(area(1280, 720), std::make_pair(640, 480));
    EXPECT_EQ(area(720, 480), std::make_pair(720, 480));
    EXPECT_EQ(area(640, 480), std::make_pair(640, 480));
    EXPECT_EQ(area(352, 288), std::make_pair(352, 288));
    EXPECT_EQ(area(641, 481), std::make_pair(640, 480));
}

TEST_F(MainWindow, StartsWithTheLivePictureAboveTheBigBar) {
    ShowAndStart();

    const SIZE client = ClientSize();
    EXPECT_EQ(client.cx, 640);
    EXPECT_EQ(client.cy, 520);
    const RECT cap = form->gcap->BoundsRect();
    EXPECT_EQ(cap.left, 0);
    EXPECT_EQ(cap.top, 0);
    EXPECT_EQ(cap.right, 640);
    EXPECT_EQ(cap.bottom, 480);
    EXPECT_EQ(form->Image_Back->Left(), 0);
    EXPECT_EQ(form->Image_Back->Height(), 40);
    ExpectBarBelowPicture();
    EXPECT_EQ(form->Image_Back->Top(), 481);

    // The images folder's glyphs and big bar background are in use.
    EXPECT_EQ(form->Image_Back->Picture().Width(), 640);
    EXPECT_EQ(form->gbOpenFolder->Glyphs().Glyph().GetPixel(0, 0), kOpenGlyphColor);
    EXPECT_EQ(form->gbPreview->Glyphs().Glyph().GetPixel(0, 0), kPreviewOffColor);
    EXPECT_TRUE(form->gbHelp->Glyphs().Glyph().Empty()) << "no file, no glyph";

    // Previewing: the camera buttons are usable, the lens is shown but does nothing.
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_TRUE(b->Enabled());
    EXPECT_TRUE(form->gbLens->Visible());
    EXPECT_FALSE(form->gbLens->Enabled());
    EXPECT_FALSE(form->gbRecordOff->Visible());
    EXPECT_EQ(form->gbPreview->Hint, L"Stop the picture");
    EXPECT_EQ(form->gbOpenFolder->Hint, L"Open the folder");
    EXPECT_EQ(form->gbRecordOff->Hint, L"Stop recording");
    EXPECT_TRUE(form->gbLens->Hint.empty());

    EXPECT_EQ(form->gcap->PopupMenu, form->pmCam);
    EXPECT_EQ(form->miVideoFormat->Caption, L"Format");
    EXPECT_EQ(form->gcap->ImageFileName, ImagePath + L"image_kv_.jpg");
    EXPECT_EQ(form->gcap->VideoFileName, MoviePath + L"video_kv_.wmv");
    EXPECT_EQ(GetClassLongW(wnd, GCL_STYLE) & CS_DROPSHADOW, 0u);

    // What the screen shows: the camera's picture above, the bar's background below.
    EXPECT_TRUE(PictureShowsCamera());
    EXPECT_TRUE(PumpUntil([&] {
        return NearColour(ScreenMean(wnd, RECT{4, 484, 170, 518}), kBigBarColor);
    })) << "the big bar background is not on the screen";
}

TEST_F(MainWindow, TheWindowFollowsThePictureSizeAndKeepsItsCentre) {
    ShowAndStart();
    auto centre = [&] {
        const RECT r = WindowRect();
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    // A small frame size: small bar, its own background, help at 311, and the live
    // picture in the smaller area after the preview restarts.
    VideoWidth = 352;
    VideoHeight = 288;
    form->gbPreviewClick();
    form->gbPreviewClick();
    ASSERT_TRUE(form->IsPreviewing());
    EXPECT_EQ(ClientSize().cx, 352);
    EXPECT_EQ(ClientSize().cy, 328);
    EXPECT_EQ(form->gcap->Width(), 352);
    EXPECT_EQ(form->gcap->Height(), 288);
    ExpectBarBelowPicture();
    EXPECT_EQ(form->Image_Back->Picture().Width(), 352);
    EXPECT_TRUE(PictureShowsCamera());
    EXPECT_TRUE(PumpUntil([&] {
        return NearColour(ScreenMean(wnd, RECT{2, 292, 16, 326}), kSmallBarColor);
    })) << "the small bar background is not on the screen";

    // Sizes set by a format change (the window fits them at once).
    const POINT smallCentre = centre();
    VideoWidth = 1280;
    VideoHeight = 720;
    form->FitVideoArea();
    EXPECT_EQ(form->gcap->Width(), 640);
    EXPECT_EQ(form->gcap->Height(), 480);
    EXPECT_EQ(ClientSize().cx, 640);
    EXPECT_EQ(ClientSize().cy, 520);
    EXPECT_EQ(form->Image_Back->Picture().Width(), 640);
    ExpectBarBelowPicture();
    EXPECT_NEAR(centre().x, smallCentre.x, 1);
    EXPECT_NEAR(centre().y, smallCentre.y, 1);

    const POINT bigCentre = centre();
    VideoWidth = 720;
    VideoHeight = 480;
    form->FitVideoArea();
    EXPECT_EQ(form->gcap->Width(), 720);
    EXPECT_EQ(form->gcap->Height(), 480);
    EXPECT_EQ(ClientSize().cx, 720);
    EXPECT_EQ(ClientSize().cy, 520);
    ExpectBarBelowPicture();

    EXPECT_NEAR(centre().x, bigCentre.x, 1);
    EXPECT_NEAR(centre().y, bigCentre.y, 1);
}

TEST_F(MainWindow, PreviewSwitchCollapsesToTheBarAndGrowsUpwardAgain) {
    ShowAndStart();
    const int barTop = BarScreenTop();
    const RECT before = WindowRect();

    form->gbPreviewClick();
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_EQ(form->gcap->Height(), 0);
    EXPECT_EQ(ClientSize().cx, 640);
    EXPECT_EQ(ClientSize().cy, 40);
    EXPECT_NEAR(BarScreenTop(), barTop, 2) << "the bar moved";
    EXPECT_FALSE(KeepWindowPos);
    EXPECT_EQ(captest::ControlProbe::VideoCaptureFilter(*form->gcap), nullptr)
        << "the camera was not let go";
    EXPECT_EQ(form->gbPreview->Hint, L"Start the picture");
    EXPECT_EQ(form->gbPreview->Glyphs().Glyph().GetPixel(0, 0), kPreviewOnColor);
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_FALSE(b->Enabled());
    EXPECT_TRUE(form->gbOpenFolder->Enabled());
    EXPECT_TRUE(form->gbHelp->Enabled());
    ExpectBarBelowPicture();

    form->gbPreviewClick();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(ClientSize().cx, 640);
    EXPECT_EQ(ClientSize().cy, 520);
    EXPECT_NEAR(BarScreenTop(), barTop, 3) << "the window did not grow upward";
    EXPECT_NEAR(WindowRect().top, before.top, 3);
    EXPECT_FALSE(KeepWindowPos);
    EXPECT_EQ(form->gbPreview->Hint, L"Stop the picture");
    EXPECT_EQ(form->gbPreview->Glyphs().Glyph().GetPixel(0, 0), kPreviewOffColor);
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_TRUE(b->Enabled());
    EXPECT_TRUE(PictureShowsCamera());
}

TEST_F(MainWindow, TheTopStaysInTheWorkAreaAndMinimisingKeepsThePlace) {
    ShowAndStart();
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const RECT start = WindowRect();
    const int height = start.bottom - start.top;

    SetWindowPos(wnd, nullptr, 30, -50, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(WindowRect().top, 0);
    EXPECT_EQ(WindowRect().left, 30);
    SetWindowPos(wnd, nullptr, -100, work.bottom - 10, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(WindowRect().top, work.bottom - height);
    EXPECT_EQ(WindowRect().left, -100) << "the left edge is not limited";

    // A size change near the bottom: the centre would put the top lower than the work
    // area allows for the window's current height.
    VideoWidth = 352;
    VideoHeight = 288;
    form->FitVideoArea();
    EXPECT_LE(WindowRect().top, work.bottom - height);

    SetWindowPos(wnd, nullptr, start.left, start.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT placed = WindowRect();
    ShowWindow(wnd, SW_MINIMIZE);
    ASSERT_TRUE(PumpUntil([&] { return IsIconic(wnd) != FALSE; }));
    ShowWindow(wnd, SW_RESTORE);
    ASSERT_TRUE(PumpUntil([&] { return !IsIconic(wnd); }));
    const RECT restored = WindowRect();
    EXPECT_TRUE(EqualRect(&placed, &restored))
        << "restored at " << restored.left << "," << restored.top << " instead of " << placed.left
        << "," << placed.top;
}

namespace {

// Monitors as a desktop with two might have them: the primary one (its taskbar at the
// bottom), a second one below it and a third one above it. The display here has one.
TMonitorAreas ThreeMonitors(const RECT& bounds) {
    const int middle = (bounds.top + bounds.bottom) / 2;
    if (middle >= 1024) return {RECT{0, 1024, 1280, 2048}, RECT{0, 1024, 1280, 2008}};
    if (middle < 0) return {RECT{0, -1024, 1280, 0}, RECT{0, -1024, 1280, 0}};
    return {RECT{0, 0, 1280, 1024}, RECT{0, 0, 1280, 984}};
}

}  // namespace

TEST_F(MainWindow, OnAnotherMonitorTheTopStaysInThatMonitorsArea) {
    ShowAndStart();
    struct Restore {
        ~Restore() { MonitorAreasAt = &SystemMonitorAreas; }
    } restore;
    MonitorAreasAt = &ThreeMonitors;
    const int height = WindowRect().bottom - WindowRect().top;
    auto moveTo = [&](int top) {
        SetWindowPos(wnd, nullptr, 40, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return WindowRect().top;
    };
    EXPECT_EQ(moveTo(1300), 1300) << "the monitor below";
    EXPECT_EQ(moveTo(2000 - height / 2), 2008 - height) << "its taskbar";
    EXPECT_EQ(moveTo(-900), -900) << "the monitor above";
    EXPECT_EQ(moveTo(-height / 4), 0) << "mostly on the primary monitor";
    EXPECT_EQ(moveTo(984 - height / 2), 984 - height);
}

TEST_F(MainWindow, ABusyCameraAtTheStartShowsTheErrorAtOnce) {
    config.SetDword(vcam::kValueFailRun, 1);
    form->Show();
    MessageBoxWatcher boxes;
    form->tmrStartTimer();
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], L"The camera is in use\r\n\r\nClose the other program");
    EXPECT_EQ(boxes.Boxes()[0].caption, L"Confirm");
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_EQ(CameraRetryCount, 0);
    EXPECT_FALSE(form->tmrCamUse->Enabled()) << "no silent retry after a start-up failure";
    // The button still offers to stop; the camera buttons stay off.
    EXPECT_EQ(form->gbPreview->Hint, L"Stop the picture");
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_FALSE(b->Enabled());
    // The log says which call failed, how, and for which camera.
    const std::string log = LogText();
    EXPECT_TRUE(std::regex_search(log, std::regex("IMediaControl::Run failed: 0x8[0-9A-F]{7}"
                                                  "( \\(.*\\))?, Orvix Test Camera\r\n")))
        << log;
    EXPECT_NE(log.find("camera open: failed: Orvix Test Camera"), std::string::npos) << log;
}

TEST_F(MainWindow, AfterAResumeABusyCameraIsTriedFourTimesAndOnlyTheLastFailureIsShown) {
    config.SetDword(vcam::kValueFailRun, 1);
    form->Show();
    {
        MessageBoxWatcher startBox;
        form->tmrStartTimer();
        ASSERT_EQ(startBox.Texts().size(), 1u);
    }
    EXPECT_EQ(form->tmrCamUse->Interval(), 3000u);

    MessageBoxWatcher boxes;
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(form->tmrCamUse->Enabled()) << "no try " << attempt << " planned";
        form->tmrCamUseTimer();
        EXPECT_FALSE(form->IsPreviewing());
        EXPECT_EQ(CameraRetryCount, attempt);
        EXPECT_TRUE(boxes.Texts().empty()) << "a box after try " << attempt;
    }
    ASSERT_TRUE(form->tmrCamUse->Enabled());
    form->tmrCamUseTimer();
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], L"The camera is in use\r\n\r\nClose the other program");
    EXPECT_EQ(CameraRetryCount, 0);
    EXPECT_FALSE(form->tmrCamUse->Enabled()) << "the series did not end";
    EXPECT_FALSE(form->IsPreviewing());

    // A resume during a series does not start a second one.
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    form->tmrCamUseTimer();
    ASSERT_EQ(CameraRetryCount, 1);
    form->tmrCamUse->SetEnabled(false);
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESTANDBY, 0);
    EXPECT_FALSE(form->tmrCamUse->Enabled());
}

TEST_F(MainWindow, TheFirstSuccessfulTryEndsTheSeries) {
    config.SetDword(vcam::kValueFailRun, 1);
    form->Show();
    {
        MessageBoxWatcher startBox;
        form->tmrStartTimer();
    }
    MessageBoxWatcher boxes;
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    form->tmrCamUseTimer();
    form->tmrCamUseTimer();
    EXPECT_EQ(CameraRetryCount, 2);
    config.SetDword(vcam::kValueFailRun, 0);  // the other program lets go

    ASSERT_TRUE(form->tmrCamUse->Enabled());
    form->tmrCamUseTimer();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(CameraRetryCount, 0);
    EXPECT_FALSE(form->tmrCamUse->Enabled());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ClientSize().cy, 520);
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_TRUE(b->Enabled());
    EXPECT_TRUE(PictureShowsCamera());
}

// The notice that sleep is held off comes from its timer, never from inside the power
// message, and only the first time: the handler is called, and a box it shows would be
// on screen (and recorded) before the call returns.
TEST_F(MainWindow, TheSleepNoticeComesFromItsTimerAndOnlyOnce) {
    ShowAndStart();
    MessageBoxWatcher boxes;
    EXPECT_EQ(SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0),
              static_cast<LRESULT>(BROADCAST_QUERY_DENY));
    EXPECT_TRUE(form->tmrShowMsg->Enabled());
    EXPECT_TRUE(boxes.Texts().empty());
    form->tmrShowMsgTimer();
    EXPECT_FALSE(form->tmrShowMsg->Enabled());
    EXPECT_EQ(boxes.Texts().size(), 1u);

    EXPECT_EQ(SendMessageW(wnd, WM_POWER, 1 /* PWR_SUSPENDREQUEST */, 0), -1 /* PWR_FAIL */);
    EXPECT_TRUE(form->tmrShowMsg->Enabled());
    form->tmrShowMsgTimer();
    EXPECT_FALSE(form->tmrShowMsg->Enabled());
    EXPECT_EQ(boxes.Texts().size(), 1u);
}

TEST_F(MainWindow, SuspendStopsThePreviewAndResumeBringsItBack) {
    ShowAndStart();
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_EQ(ClientSize().cy, 40);
    EXPECT_EQ(captest::ControlProbe::VideoCaptureFilter(*form->gcap), nullptr);

    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    ASSERT_TRUE(form->tmrCamUse->Enabled());
    form->tmrCamUseTimer();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(CameraRetryCount, 0);
    EXPECT_EQ(ClientSize().cy, 520);

    // A standby while stopped leaves everything as it is.
    form->gbPreviewClick();
    ASSERT_FALSE(form->IsPreviewing());
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSTANDBY, 0);
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_EQ(ClientSize().cy, 40);
}

TEST_F(MainWindow, ClosingWhilePreviewingStopsThePreviewWithoutResizing) {
    ShowAndStart();
    const RECT before = WindowRect();
    bool canClose = true;
    form->FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
    fw::CloseAction action = fw::CloseAction::Hide;
    form->FormClose(action);
    EXPECT_FALSE(form->IsPreviewing());
    const RECT after = WindowRect();
    EXPECT_TRUE(EqualRect(&before, &after));
}

// --- the camera unplugged and plugged in again

namespace {

void ExpectCameraButtons(Tfrm_DADez* form, bool enabled) {
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_EQ(b->Enabled(), enabled);
}

}  // namespace

TEST_F(MainWindow, AnUnpluggedCameraIsToldOnceAndComesBackWithTheDeviceChangeNotice) {
    config.SetDword(vcam::kValueLoseAfterMs, 500);
    config.SetDword(vcam::kValueReturnAfterMs, 1500);
    // Only the system's notice can bring the picture back within the wait below.
    form->tmrCamReturn->SetInterval(600000);
    MessageBoxWatcher boxes;
    ShowAndStart();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); })) << "the loss was not told";
    EXPECT_EQ(boxes.Texts()[0], L"The camera is gone");
    EXPECT_EQ(boxes.Boxes()[0].caption, L"Confirm");

    ASSERT_TRUE(PumpUntil([&] { return form->IsPreviewing(); }, 20000)) << "no picture again";
    EXPECT_FALSE(form->CameraGone());
    EXPECT_TRUE(PictureShowsCamera());
    ExpectCameraButtons(form, true);
    EXPECT_EQ(ClientSize().cy, 520);
    EXPECT_EQ(boxes.Texts().size(), 1u) << "told more than once";
}

TEST_F(MainWindow, WithoutADeviceChangeNoticeTheCheckFindsTheCameraBack) {
    config.SetDword(vcam::kValueLoseAfterMs, 300);
    config.SetDword(vcam::kValueReturnAfterMs, 5000);
    MessageBoxWatcher boxes;
    ShowAndStart();
    ASSERT_TRUE(PumpUntil([&] { return form->CameraGone() && !boxes.Texts().empty(); }));
    EXPECT_EQ(boxes.Texts()[0], L"The camera is gone");
    EXPECT_TRUE(form->tmrCamReturn->Enabled());
    EXPECT_FALSE(form->IsPreviewing());
    ExpectCameraButtons(form, false);
    EXPECT_TRUE(PumpUntil([&] {
        const Rgb m = ScreenMean(wnd, form->gcap->BoundsRect());
        return m.b < 40 && m.r < 40 && m.g < 40;
    })) << "the last frame stays on the screen";
    // A check while the camera is still away opens nothing and tells nothing.
    form->tmrCamReturnTimer();
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_TRUE(form->CameraGone());
    // A preview click meanwhile says why there is no picture, and opens nothing either.
    form->gbPreviewClick();
    EXPECT_FALSE(form->IsPreviewing());
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts()[1], L"The camera is gone");

    // The camera returns; its notice is taken out of the queue before the window sees it.
    MSG notice{};
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return PeekMessageW(&notice, wnd, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE); },
        15000));
    form->tmrCamReturnTimer();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_FALSE(form->CameraGone());
    EXPECT_FALSE(form->tmrCamReturn->Enabled());
    ExpectCameraButtons(form, true);
    EXPECT_TRUE(PictureShowsCamera());
    EXPECT_EQ(boxes.Texts().size(), 2u);
}

// The camera is back but held by another program: a look that falls due while the last
// one is still trying to open it waits for the next tick instead of following at once
// (back to back, the window would never be free for anything else).
TEST_F(MainWindow, AReturnCheckDueDuringTheLastOneWaitsForItsNextTick) {
    form->tmrCamReturn->SetInterval(600000);  // only the looks below
    MessageBoxWatcher boxes;
    ShowAndStart();
    config.Unplug();
    ASSERT_TRUE(PumpUntil([&] { return form->CameraGone() && form->StepsIdle(); }, 15000));
    config.PlugIn();
    config.SetDword(vcam::kValueFailRun, 1);
    int opens = 0;
    form->gcap->OnChangeDevice = [&] {
        if (++opens == 1) form->tmrCamReturnTimer();
    };
    form->tmrCamReturnTimer();
    ASSERT_TRUE(PumpUntil([&] { return form->StepsIdle(); }));
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(form->CameraGone());
}

void MinimiseAndRestore(HWND wnd) {
    ShowWindow(wnd, SW_MINIMIZE);
    ASSERT_TRUE(PumpUntil([&] { return IsIconic(wnd) != FALSE; }));
    ShowWindow(wnd, SW_RESTORE);
    ASSERT_TRUE(PumpUntil([&] { return !IsIconic(wnd); }));
}

// Unplugged while the computer sleeps: the resume's retry finds the camera gone, which is
// the camera-gone state (told once, the picture area dark, the camera buttons off), never
// the program's end; a sleep meanwhile starts no retry series, and once the camera is back
// the next sleep is retried as ever.
TEST_F(MainWindow, ACameraUnpluggedDuringSleepIsGoneUntilItsReturnAndLaterSleepsAreAsEver) {
    ShowAndStart();
    MessageBoxWatcher boxes;
    auto sleepAndWake = [&] {
        SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    };
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    config.Unplug();
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    ASSERT_TRUE(form->tmrCamUse->Enabled());
    form->tmrCamUseTimer();
    EXPECT_FALSE(app.Terminated());
    EXPECT_TRUE(form->CameraGone());
    EXPECT_FALSE(form->tmrCamUse->Enabled());
    ExpectCameraButtons(form, false);
    EXPECT_EQ(ClientSize().cy, 520) << "the picture area went";

    sleepAndWake();
    if (form->tmrCamUse->Enabled()) form->tmrCamUseTimer();
    EXPECT_EQ(CameraRetryCount, 0) << "a series left open";
    EXPECT_FALSE(app.Terminated());

    config.PlugIn();
    form->tmrCamReturnTimer();
    ASSERT_TRUE(form->IsPreviewing());
    ExpectCameraButtons(form, true);
    sleepAndWake();
    ASSERT_TRUE(form->tmrCamUse->Enabled()) << "no retry after the next sleep";
    form->tmrCamUseTimer();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"The camera is gone"});
}

// While the camera is gone the window keeps its dark picture area, also through a
// minimise, and the camera's return waits for a box that is open: one box at a time, the
// picture back after it.
TEST_F(MainWindow, WhileTheCameraIsGoneThePictureAreaStaysAndItsReturnWaitsForTheBox) {
    config.SetDword(vcam::kValueLoseAfterMs, 300);
    form->tmrCamReturn->SetInterval(600000);  // only the test's own checks
    int boxes = 0;
    InsideNextModal([&](HWND box) {
        ++boxes;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    ShowAndStart();
    ASSERT_TRUE(PumpUntil([&] { return boxes == 1; })) << "the loss was not told";
    ASSERT_TRUE(form->CameraGone());
    MinimiseAndRestore(wnd);
    EXPECT_EQ(ClientSize().cy, 520);
    EXPECT_EQ(form->gbPreview->Hint, L"Stop the picture");

    bool openedUnderTheBox = true;
    InsideNextModal([&](HWND box) {
        ++boxes;
        config.PlugIn();
        form->tmrCamReturnTimer();
        SendMessageW(wnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        openedUnderTheBox = form->IsPreviewing();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    form->gbPreviewClick();  // says why there is no picture
    EXPECT_EQ(boxes, 2);
    EXPECT_FALSE(openedUnderTheBox);
    ASSERT_TRUE(PumpUntil([&] { return form->IsPreviewing(); })) << "no picture after the box";
    EXPECT_EQ(form->gcap->Height(), 480);
    EXPECT_EQ(ClientSize().cy, 520);
    ExpectCameraButtons(form, true);
    EXPECT_TRUE(PictureShowsCamera());
}

// The device dialog opened while the camera is gone: the camera's return waits for the
// dialog, and Cancel forgets nothing: the picture comes back, and stops and starts again.
TEST_F(MainWindow, TheDeviceDialogHoldsTheCamerasReturnAndItsCancelForgetsNothing) {
    config.SetDword(vcam::kValueLoseAfterMs, 300);
    form->tmrCamReturn->SetInterval(600000);
    MessageBoxWatcher boxes;
    ShowAndStart();
    ASSERT_TRUE(PumpUntil([&] { return form->CameraGone() && !boxes.Texts().empty(); }));
    const int device = VideoDeviceIndex;
    bool openedUnderTheDialog = true;
    InsideNextModal([&](HWND dialog) {
        config.PlugIn();
        form->tmrCamReturnTimer();
        openedUnderTheDialog = form->IsPreviewing();
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    form->miVideoFormatClick();
    EXPECT_FALSE(openedUnderTheDialog);
    EXPECT_EQ(VideoDeviceIndex, device);
    ASSERT_TRUE(PumpUntil([&] { return form->IsPreviewing(); })) << "no picture after the dialog";
    form->gbPreviewClick();
    form->gbPreviewClick();
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_TRUE(PictureShowsCamera());
}

// A stream error whose own restart fails (the camera went with it) is told, and leaves
// nothing to record or photograph.
TEST_F(MainWindow, AStreamErrorWhoseRestartFailsIsToldAndTurnsTheCameraButtonsOff) {
    config.SetDword(vcam::kValueAbortAfterMs, 500);
    const auto tell = form->gcap->OnError;
    form->gcap->OnError = [&](int code) {
        if (code == ErrGraphAborted) config.Unplug();
        tell(code);
    };
    MessageBoxWatcher boxes;
    ShowAndStart();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); }, 15000)) << "nothing told";
    EXPECT_EQ(boxes.Texts()[0], L"The camera is gone");
    EXPECT_FALSE(form->IsPreviewing());
    ExpectCameraButtons(form, false);
    EXPECT_FALSE(app.Terminated());
}

// --- recording

class MainWindowRecording : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        MoviePath = movies;
        form->gcap->VideoFileName = MoviePath + L"video_kv_.wmv";
    }
    testsupport::TempFolder movieFolder{L"orvix_movies"};
    const std::wstring movies = movieFolder.Path();
};

TEST_F(MainWindowRecording, TheCaptionRunsTheTimeAndTheStopButtonBringsThePreviewBack) {
    ShowAndStart();
    MessageBoxWatcher boxes;
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    EXPECT_FALSE(form->gbRecord->Visible());
    EXPECT_FALSE(form->gbRecord->Enabled());
    EXPECT_TRUE(form->gbRecordOff->Visible());
    EXPECT_TRUE(form->gbRecordOff->Enabled());
    EXPECT_FALSE(form->gbSnap->Enabled());
    EXPECT_FALSE(form->gbOpenFolder->Enabled());
    EXPECT_TRUE(form->tmrChkSpace->Enabled());
    // The running time stands at the right end of the caption.
    EXPECT_TRUE(PumpUntil([&] {
        const std::wstring c = Caption(wnd);
        return c.find(L"Orvix under test") == 0 && c.size() > 20 &&
               c.compare(c.size() - 18, 18, L"Recording 00:00:01") == 0;
    })) << Caption(wnd).c_str();

    // Close and the preview switch are refused while recording.
    bool canClose = true;
    form->FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    form->gbPreviewClick();
    EXPECT_TRUE(form->IsRecording());
    // So are both sensor switches, and the menu's video items are off.
    form->gbForwardClick();
    form->gbBackwardClick();
    EXPECT_TRUE(form->IsRecording());
    form->pmCamPopup();
    EXPECT_FALSE(form->miVideoSource->Enabled);
    EXPECT_FALSE(form->miVideoFormat->Enabled);
    EXPECT_TRUE(form->miSaveFolder->Enabled);
    ASSERT_TRUE(PumpUntil([&] { return boxes.Texts().size() >= 4; }));
    EXPECT_EQ(boxes.Texts()[0], L"Stop the recording before closing");
    EXPECT_EQ(boxes.Texts()[1], L"Stop the recording first");
    EXPECT_EQ(boxes.Texts()[2], L"No camera switch while recording");
    EXPECT_EQ(boxes.Texts()[3], L"No camera switch while recording");

    form->gbRecordOffClick();
    EXPECT_FALSE(form->IsRecording());
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
    EXPECT_TRUE(form->gbRecord->Visible());
    EXPECT_TRUE(form->gbRecord->Enabled());
    EXPECT_FALSE(form->gbRecordOff->Visible());
    EXPECT_TRUE(form->gbSnap->Enabled());
    EXPECT_TRUE(form->gbOpenFolder->Enabled());
    EXPECT_FALSE(form->tmrChkSpace->Enabled());
    form->pmCamPopup();
    EXPECT_TRUE(form->miVideoSource->Enabled);
    EXPECT_TRUE(form->miVideoFormat->Enabled);
    // The preview runs at the window's frame size again, not the recording's 320 x 240.
    EXPECT_EQ(form->gcap->Requested().FrameWidth, VideoWidth);
    EXPECT_EQ(form->gcap->Requested().FrameHeight, VideoHeight);
    EXPECT_TRUE(PictureShowsCamera());

    // What the file holds is the capture control's (tests/capture) and is read once
    // through the whole program (RecordClickTest.sh): here only that it was written.
    const captest::MediaProbe p = captest::ProbeMedia(movies + L"video_kv_0.wmv");
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 10);
}

namespace {
RECT g_menuRect{};
// Inside the menu's own loop: where the open menu is, then the menu closed.
void CALLBACK NoteAndEndMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu || !IsWindowVisible(menu)) return;
    KillTimer(nullptr, id);
    GetWindowRect(menu, &g_menuRect);
    EndMenu();
}
}  // namespace

// The keyboard alone: the bar is one tab stop walked with the arrows over the buttons that
// take clicks, Space and Enter press the focused one, the focus follows record to the stop
// button in its place and back, and Shift+F10 opens the picture's menu over the picture.
TEST_F(MainWindowRecording, TheKeyboardAloneRecordsAndOpensThePicturesMenu) {
    ShowAndStart();
    SetForegroundWindow(wnd);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == wnd; }));
    const auto press = [&](WORD key, bool shift, TTntGButton* focus) {
        testsupport::SendKey(key, shift);
        return PumpUntil([&] { return form->FocusedBarButton() == focus; });
    };
    ASSERT_TRUE(press(VK_TAB, false, form->gbOpenFolder));
    EXPECT_EQ(SendMessageW(wnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0u);
    ASSERT_TRUE(press(VK_RIGHT, false, form->gbPreview));
    ASSERT_TRUE(press(VK_RIGHT, false, form->gbForward));
    ASSERT_TRUE(press(VK_RIGHT, false, form->gbBackward)) << "the lens takes no clicks";
    ASSERT_TRUE(press(VK_END, false, form->gbHelp));
    ASSERT_TRUE(press(VK_LEFT, false, form->gbRecord));
    testsupport::SendKey(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return form->IsRecording() && form->gbRecordOff->Enabled(); }));
    EXPECT_EQ(form->FocusedBarButton(), form->gbRecordOff);
    testsupport::SendKey(VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return !form->IsRecording() && form->gbRecord->Enabled(); }));
    EXPECT_EQ(form->FocusedBarButton(), form->gbRecord);
    EXPECT_TRUE(FileExists(movies + L"video_kv_0.wmv"));
    ASSERT_TRUE(press(VK_TAB, true, nullptr));

    g_menuRect = RECT{};
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, &NoteAndEndMenu);
    testsupport::SendKey(VK_F10, true);
    EXPECT_TRUE(PumpUntil([&] { return g_menuRect.right > g_menuRect.left; }))
        << "no menu from Shift+F10";
    KillTimer(nullptr, timer);
    RECT picture = form->gcap->BoundsRect();
    MapWindowPoints(wnd, nullptr, reinterpret_cast<POINT*>(&picture), 2);
    const POINT corner{g_menuRect.left, g_menuRect.top};
    EXPECT_TRUE(PtInRect(&picture, corner)) << "the menu opened away from the picture";
    EXPECT_FALSE(form->IsRecording());
}

namespace {
std::vector<LONG> g_focusEvents;
void CALLBACK NoteFocusEvent(HWINEVENTHOOK, DWORD event, HWND, LONG object, LONG child, DWORD,
                             DWORD) {
    if (event == EVENT_OBJECT_FOCUS && object == OBJID_CLIENT) g_focusEvents.push_back(child);
}
VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}
std::wstring NameOf(IAccessible* a, long id) {
    BSTR name = nullptr;
    if (a->get_accName(Child(id), &name) != S_OK || !name) return L"(none)";
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}
long StateOf(IAccessible* a, long id) {
    VARIANT state;
    VariantInit(&state);
    return a->get_accState(Child(id), &state) == S_OK ? state.lVal : -1;
}
}  // namespace

// What a screen reader sees through the platform's accessibility interface: the buttons by
// their hints, with their states as the camera opens and a recording runs, the picture,
// a picture taken through a button's default action, and the bar's focus as events.
TEST_F(MainWindowRecording, AScreenReaderNamesTheButtonsAndPressesThem) {
    ShowAndStart();
    IAccessible* acc = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(wnd, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&acc)),
              S_OK);
    long count = 0;
    EXPECT_EQ(acc->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 10);
    const long snap = form->BarButtonId(form->gbSnap), record = form->BarButtonId(form->gbRecord),
               stop = form->BarButtonId(form->gbRecordOff), picture = 10;
    EXPECT_EQ(NameOf(acc, snap), L"Picture");
    EXPECT_EQ(NameOf(acc, form->BarButtonId(form->gbPreview)), L"Stop the picture");
    VARIANT role;
    VariantInit(&role);
    ASSERT_EQ(acc->get_accRole(Child(snap), &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_PUSHBUTTON);
    ASSERT_EQ(acc->get_accRole(Child(picture), &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_GRAPHIC);
    // The test's language file is older than the accessibility texts: the system's word
    // names the picture.
    wchar_t graphic[64] = {};
    GetRoleTextW(ROLE_SYSTEM_GRAPHIC, graphic, 64);
    EXPECT_EQ(NameOf(acc, picture), graphic);
    BSTR action = nullptr;
    ASSERT_EQ(acc->get_accDefaultAction(Child(snap), &action), S_OK);
    EXPECT_EQ(std::wstring(action), L"Press");
    SysFreeString(action);
    EXPECT_EQ(StateOf(acc, snap) & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE), 0);
    EXPECT_NE(StateOf(acc, form->BarButtonId(form->gbLens)) & STATE_SYSTEM_UNAVAILABLE, 0);
    EXPECT_NE(StateOf(acc, stop) & STATE_SYSTEM_INVISIBLE, 0);

    const std::wstring pictures = folder.MakeFolder(L"readershots");
    form->gcap->ImageFileName = pictures + L"\\image_kv_.jpg";
    EXPECT_EQ(acc->accDoDefaultAction(Child(snap)), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return std::filesystem::exists(pictures + L"\\image_kv_0.jpg"); }))
        << "the default action took no picture";

    EXPECT_EQ(acc->accDoDefaultAction(Child(record)), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return form->IsRecording() && form->gbRecordOff->Enabled(); }));
    EXPECT_NE(StateOf(acc, record) & STATE_SYSTEM_INVISIBLE, 0);
    EXPECT_EQ(StateOf(acc, stop) & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE), 0);
    EXPECT_NE(StateOf(acc, snap) & STATE_SYSTEM_UNAVAILABLE, 0);
    EXPECT_EQ(acc->accDoDefaultAction(Child(snap)), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(acc->accDoDefaultAction(Child(stop)), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !form->IsRecording() && form->gbRecord->Enabled(); }));

    // The bar's focus, as a screen reader is told of it.
    g_focusEvents.clear();
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &NoteFocusEvent,
                        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    form->BarKey(VK_TAB, 0);
    form->BarKey(VK_RIGHT, 0);
    EXPECT_TRUE(PumpUntil([&] { return g_focusEvents.size() >= 2; }));
    UnhookWinEvent(hook);
    EXPECT_EQ(g_focusEvents, (std::vector<LONG>{form->BarButtonId(form->gbOpenFolder),
                                                form->BarButtonId(form->gbPreview)}));
    acc->Release();

    // In the shipped English texts, which name the picture and the action themselves.
    CloseMainWindow();
    FreeLanguageTexts();
    CreateMainWindow(Texts::English);
    ShowAndStart();
    ASSERT_EQ(AccessibleObjectFromWindow(wnd, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&acc)),
              S_OK);
    EXPECT_EQ(NameOf(acc, snap), L"Take a picture");
    EXPECT_EQ(NameOf(acc, picture), L"Camera picture");
    acc->Release();
}

// Where a screen reader finds the children on the screen, how it moves among them, and an
// object that outlives its window.
TEST_F(MainWindowRecording, AScreenReaderFindsAndWalksTheChildrenWhereTheyAre) {
    ShowAndStart();
    IAccessible* acc = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(wnd, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&acc)),
              S_OK);
    const long snap = form->BarButtonId(form->gbSnap), picture = 10;
    RECT r = form->gbSnap->BoundsRect();
    MapWindowPoints(wnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    long x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(acc->accLocation(&x, &y, &w, &h, Child(snap)), S_OK);
    EXPECT_EQ((std::vector<long>{x, y, w, h}),
              (std::vector<long>{r.left, r.top, r.right - r.left, r.bottom - r.top}));
    EXPECT_EQ(acc->accLocation(&x, &y, &w, &h, Child(11)), E_INVALIDARG);

    VARIANT at;
    ASSERT_EQ(acc->accHitTest((r.left + r.right) / 2, (r.top + r.bottom) / 2, &at), S_OK);
    EXPECT_EQ(at.lVal, snap);
    POINT middle{form->gcap->Width() / 2, form->gcap->Height() / 2};
    ClientToScreen(wnd, &middle);
    ASSERT_EQ(acc->accHitTest(middle.x, middle.y, &at), S_OK);
    EXPECT_EQ(at.lVal, picture);
    EXPECT_EQ(acc->accHitTest(r.left - 2000, r.top, &at), S_FALSE) << "off the window";

    VARIANT to;
    ASSERT_EQ(acc->accNavigate(NAVDIR_NEXT, Child(snap), &to), S_OK);
    EXPECT_EQ(to.lVal, snap + 1);
    ASSERT_EQ(acc->accNavigate(NAVDIR_LASTCHILD, Child(CHILDID_SELF), &to), S_OK);
    EXPECT_EQ(to.lVal, picture);
    EXPECT_EQ(acc->accNavigate(NAVDIR_NEXT, Child(picture), &to), S_FALSE);
    EXPECT_EQ(acc->accNavigate(NAVDIR_PREVIOUS, Child(1), &to), S_FALSE);

    // A reader still holding the object after the window has gone gets an answer, not a
    // crash.
    CloseMainWindow();
    EXPECT_EQ(acc->accHitTest(middle.x, middle.y, &at), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(acc->accDoDefaultAction(Child(snap)), CO_E_OBJNOTCONNECTED);
    acc->Release();
}

// The session ends while a recording start waits for the camera (the message comes in
// one of its waits): the start records nothing, leaves no file and opens no box.
TEST_F(MainWindowRecording, TheSessionEndDuringARecordingStartLeavesNoRecordingAndNoFile) {
    ShowAndStart();
    MessageBoxWatcher boxes;
    PostMessageW(wnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    form->gbRecordClick();
    app.ProcessMessages();
    EXPECT_FALSE(form->IsRecording());
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_FALSE(form->gcap->StartingCapture());
    EXPECT_TRUE(movieFolder.Names().empty()) << "a file was left behind";
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(MainWindowRecording, TheFreeSpaceWatchFollowsTheFileBeingWritten) {
    ShowAndStart();
    MessageBoxWatcher boxes;
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return RecordSeconds >= 1; }));
    // Enough space: the check comes round again.
    form->tmrChkSpaceTimer();
    EXPECT_TRUE(form->IsRecording());
    EXPECT_TRUE(form->tmrChkSpace->Enabled());
    // New save folders during the recording: the drive of the file being written is
    // watched, not that of the new folder (a drive that does not exist answers no space).
    MoviePath = L"Q:\\movies\\";
    form->tmrChkSpaceTimer();
    EXPECT_TRUE(form->IsRecording());
    EXPECT_TRUE(form->tmrChkSpace->Enabled());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(MainWindowRecording, ASmallDriveEndsTheRecordingAtTheNextCheckWithAReadableFile) {
    // R: is a 24 MB memory drive that the test fixture maps (tests/app/recording-drive.sh).
    if (GetFileAttributesW(L"R:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "drive R: is not mapped here";
    MoviePath = L"R:\\";
    form->gcap->VideoFileName = MoviePath + L"video_kv_.wmv";
    ShowAndStart();
    MessageBoxWatcher boxes;
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return RecordingFolderFreeBytes(MoviePath) < 10240000; }, 30000));
    form->tmrChkSpaceTimer();
    EXPECT_FALSE(form->IsRecording());
    EXPECT_TRUE(form->IsPreviewing());
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); }));
    EXPECT_EQ(boxes.Texts()[0], L"The disk is full");
    const captest::MediaProbe p = captest::ProbeMedia(L"R:\\video_kv_0.wmv");
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 10);
    EXPECT_GT(p.AudioSeconds(), 0.5);
    DeleteFileW(L"R:\\video_kv_0.wmv");
}

TEST(RecordingFreeSpace, DriveLettersAndFoldersWithoutOne) {
    const testsupport::TempFolder folder{L"orvix_space"};
    EXPECT_GT(RecordingFolderFreeBytes(folder.Path()), 0);
    // Without a drive letter the folder itself is asked (a share is asked the same way).
    const std::wstring noLetter = L"\\\\?\\" + folder.Path();
    EXPECT_GT(RecordingFolderFreeBytes(noLetter), 0);
    EXPECT_EQ(RecordingFolderFreeBytes(L"Q:\\nothing\\"), -1);
    EXPECT_EQ(RecordingFolderFreeBytes(L""), -1);
}

TEST_F(MainWindowRecording, ASuspendEndsTheRecordingWithoutAPreviewRestartAndKeepsTheSize) {
    ShowAndStart();
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return RecordSeconds >= 1; }));
    // A resume reported without a suspend: its retry leaves the recording alone, unasked.
    MessageBoxWatcher boxes;
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    form->tmrCamUseTimer();
    EXPECT_TRUE(form->IsRecording());
    const SIZE before = ClientSize();
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    EXPECT_FALSE(form->IsRecording());
    EXPECT_FALSE(form->IsPreviewing());
    const SIZE after = ClientSize();
    EXPECT_EQ(after.cx, before.cx);
    EXPECT_EQ(after.cy, before.cy);
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
    // No picture: nothing to record until the resume's retry has brought it back.
    EXPECT_TRUE(form->gbRecord->Visible());
    ExpectCameraButtons(form, false);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_TRUE(captest::ProbeMedia(movies + L"video_kv_0.wmv").ran);
}

// A stop that the camera fails still ends the recording's state: the plain caption, the
// folders and the record button back.
TEST_F(MainWindowRecording, AStopThatTheCameraFailsStillEndsTheRecordingState) {
    config.SetDword(vcam::kValueFailStop, vcam::kFailCamera);
    ShowAndStart();
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return RecordSeconds >= 1; }));
    form->gbRecordOffClick();
    EXPECT_FALSE(form->IsRecording());
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
    EXPECT_TRUE(form->gbOpenFolder->Enabled());
    EXPECT_TRUE(form->gbRecord->Visible());
    EXPECT_FALSE(form->gbRecordOff->Visible());
}

// A preview click that arrives while the stop button's restart of the preview services the
// queue waits for the restart and then stops the picture, without a box.
TEST_F(MainWindowRecording, APreviewClickDuringTheStopsRestartRunsAfterIt) {
    ShowAndStart();
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    MessageBoxWatcher boxes;
    bool clicked = false;
    form->gcap->OnChangeDevice = [&] {
        if (clicked || form->IsRecording()) return;
        clicked = true;
        form->gbPreviewClick();
    };
    form->gbRecordOffClick();
    ASSERT_TRUE(clicked);
    ASSERT_TRUE(PumpUntil([&] { return !form->IsPreviewing() && form->gcap->Height() == 0; }));
    EXPECT_FALSE(form->IsRecording());
    ExpectCameraButtons(form, false);
    EXPECT_TRUE(boxes.Texts().empty());
}

// A recording that cannot start says so, leaves no file, and the window is ready to record
// again: record button back, free-space watch off, plain caption, live picture. The box is
// modal to the main window.
TEST_F(MainWindowRecording, ARecordingThatCannotStartSaysSoAndTheWindowIsReadyAgain) {
    ShowAndStart();
    {
        testsupport::AsfWriterMissing missing;
        MessageBoxWatcher boxes;
        form->gbRecordClick();
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], L"The recording could not start");
        EXPECT_EQ(boxes.Boxes()[0].caption, L"Confirm");
        EXPECT_EQ(boxes.Boxes()[0].owner, wnd);
        EXPECT_FALSE(boxes.Boxes()[0].ownerEnabled) << "the window took clicks under the box";
        EXPECT_FALSE(form->IsRecording());
        EXPECT_TRUE(form->gbRecord->Visible());
        EXPECT_TRUE(form->gbRecord->Enabled());
        EXPECT_FALSE(form->gbRecordOff->Visible());
        EXPECT_TRUE(form->gbSnap->Enabled());
        EXPECT_FALSE(form->tmrChkSpace->Enabled());
        EXPECT_EQ(Caption(wnd), L"Orvix under test");
        EXPECT_TRUE(form->IsPreviewing());
        EXPECT_EQ(form->gcap->Requested().FrameWidth, VideoWidth);
        EXPECT_TRUE(PictureShowsCamera());
        EXPECT_TRUE(movieFolder.Names().empty()) << "a failed start left a file";
        const std::string log = LogText();
        EXPECT_NE(log.find("(WM ASF Writer) failed: 0x80040154"), std::string::npos) << log;
    }
    // The writer is there again: the next click records.
    form->gbRecordClick();
    EXPECT_TRUE(form->IsRecording());
    form->gbRecordOffClick();
}

// The camera lost during a recording: the window leaves its recording state, says why, and
// the part written is readable.
TEST_F(MainWindowRecording, ACameraLostWhileRecordingIsToldAndEndsTheRecordingState) {
    // Lost that long after each start: the recording's start comes well before the
    // preview's time is up.
    config.SetDword(vcam::kValueLoseAfterMs, 3000);
    ShowAndStart();
    MessageBoxWatcher boxes;
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); }, 15000)) << "nothing told";
    EXPECT_EQ(boxes.Texts()[0], L"The recording lost its camera");
    EXPECT_EQ(boxes.Boxes()[0].owner, wnd);
    EXPECT_FALSE(form->IsRecording());
    EXPECT_TRUE(form->gbRecord->Visible());
    EXPECT_FALSE(form->gbRecordOff->Visible());
    EXPECT_FALSE(form->tmrChkSpace->Enabled());
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
    const captest::MediaProbe p = captest::ProbeMedia(movies + L"video_kv_0.wmv");
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    const std::string log = LogText();
    EXPECT_NE(log.find("(EC_DEVICE_LOST) failed: 0x8007048F"), std::string::npos) << log;
    EXPECT_NE(log.find("recording: ended: "), std::string::npos) << log;
}

// A graph error that ends the recording is told after the window has left its recording
// state, with the live picture back.
TEST_F(MainWindowRecording, ARecordingThatAGraphErrorEndsIsToldAndThePreviewComesBack) {
    config.SetDword(vcam::kValueAbortAfterMs, 3000);
    ShowAndStart();
    MessageBoxWatcher boxes;
    form->gbRecordClick();
    ASSERT_TRUE(form->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); }, 15000)) << "nothing told";
    EXPECT_EQ(boxes.Texts()[0], L"The recording hit a stream error");
    EXPECT_FALSE(form->IsRecording());
    EXPECT_TRUE(form->gbRecord->Visible());
    EXPECT_TRUE(form->gbRecord->Enabled());
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(Caption(wnd), L"Orvix under test");
}

// Until the camera is open nothing can be recorded or photographed, and a preview click
// during the opening at the start waits for it instead of breaking into it.
TEST_F(MainWindow, TheCameraButtonsWaitForTheCameraAndAClickDuringTheStartWaitsForIt) {
    form->Show();
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_FALSE(b->Enabled());
    MessageBoxWatcher boxes;
    bool clicked = false, enabledInside = true;
    // The device is chosen inside the opening, when the control services the queue.
    form->gcap->OnChangeDevice = [&] {
        if (clicked) return;
        clicked = true;
        enabledInside = form->gbRecord->Enabled();
        form->gbPreviewClick();
    };
    form->tmrStartTimer();
    ASSERT_TRUE(clicked);
    EXPECT_FALSE(enabledInside);
    EXPECT_TRUE(form->IsPreviewing()) << "the click broke into the opening";
    // The click is carried out once the camera is open: the preview stops, without a box.
    ASSERT_TRUE(PumpUntil([&] { return !form->IsPreviewing(); }));
    EXPECT_TRUE(boxes.Texts().empty());
}

// A picture that cannot be written (its folder cannot be made: a file stands in the way)
// is told, after the shutter sound, and takes no number.
TEST_F(MainWindow, APictureThatCannotBeWrittenIsTold) {
    ShowAndStart();
    const std::wstring blocker = std::wstring(AnsiToWide(AppPath)) + L"blocker";
    std::ofstream(std::filesystem::path(blocker)) << "a file, not a folder";
    form->gcap->ImageFileName = blocker + L"\\image_kv_.jpg";
    MessageBoxWatcher boxes;
    form->gbSnapClick();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); })) << "nothing told";
    EXPECT_EQ(boxes.Texts()[0], L"The picture could not be saved");
    EXPECT_EQ(boxes.Boxes()[0].owner, wnd);
    EXPECT_EQ(Caption(wnd), L"Orvix under test") << "a name was shown";
}

namespace {

// What the close test does inside the camera's start, and the closes it holds back.
std::function<void()> g_onRunNotice;
HWND g_closeTarget = nullptr;
int g_closes = 0;

LRESULT CALLBACK SeeRunNotice(int code, WPARAM wParam, LPARAM lParam) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && m->message == vcam::kRunNoticeMessage && g_onRunNotice)
        std::exchange(g_onRunNotice, nullptr)();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK HoldBackClose(int code, WPARAM wParam, LPARAM lParam) {
    auto* m = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && m->hwnd == g_closeTarget &&
        m->message == WM_CLOSE) {
        ++g_closes;
        m->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

// A close asked for while the camera is being started (its start waits on the window's
// thread) is refused then and carried out once the start is over, not lost.
TEST_F(MainWindow, ACloseDuringTheCamerasStartIsCarriedOutAfterIt) {
    config.SetDword(vcam::kValueRunNoticeWindow,
                    static_cast<DWORD>(reinterpret_cast<uintptr_t>(wnd)));
    bool canClose = true;
    g_onRunNotice = [&] { form->FormCloseQuery(canClose); };
    g_closeTarget = wnd;
    g_closes = 0;
    HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, &SeeRunNotice, nullptr, GetCurrentThreadId());
    HHOOK posted = SetWindowsHookExW(WH_GETMESSAGE, &HoldBackClose, nullptr, GetCurrentThreadId());
    ShowAndStart();
    EXPECT_TRUE(PumpUntil([&] { return g_closes > 0; })) << "the close was lost";
    UnhookWindowsHookEx(sent);
    UnhookWindowsHookEx(posted);
    EXPECT_FALSE(canClose) << "closed in the middle of the camera's start";
    EXPECT_EQ(g_closes, 1);
    EXPECT_TRUE(form->IsPreviewing());
}

// The camera list found empty since the start: the preview click enters the camera-gone
// state (one box, camera buttons off); the program does not end as it would at the start.
TEST_F(MainWindow, APreviewClickWithNoCameraListedAnyMoreIsTheCameraGoneState) {
    ShowAndStart();
    form->gbPreviewClick();
    ASSERT_FALSE(form->IsPreviewing());
    config.Unplug();
    ASSERT_TRUE(form->gcap->VideoDeviceNames(true).empty());
    MessageBoxWatcher boxes;
    form->gbPreviewClick();
    EXPECT_TRUE(PumpUntil([&] { return boxes.Texts().size() == 1; }));
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"The camera is gone"});
    EXPECT_TRUE(form->CameraGone());
    EXPECT_TRUE(IsWindowVisible(wnd));
    for (TTntGButton* b : {form->gbRecord, form->gbSnap, form->gbForward, form->gbBackward})
        EXPECT_FALSE(b->Enabled());
    config.PlugIn();
}

// A language file without the key still tells the user something true: the system's text.
TEST_F(MainWindow, AMissingTextIsToldInTheSystemsWords) {
    ASSERT_TRUE(GetText("T_NO_HELPFILE").empty());
    MessageBoxWatcher boxes;
    form->ShowHelp();
    ASSERT_EQ(boxes.Texts().size(), 1u) << "nothing told";
    EXPECT_EQ(boxes.Texts()[0], GetTextOr("", ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(boxes.Texts()[0].empty());
}

// The camera key pressed while the window's thread is busy (as while a graph is built) is
// not lost: its picture is taken once the thread is free again.
TEST_F(MainWindow, TheCameraKeyWhileTheWindowIsBusyTakesItsPictureAfterwards) {
    ShowAndStart();
    const std::wstring pictures = folder.MakeFolder(L"keyshots");
    form->gcap->ImageFileName = pictures + L"\\image_kv_.jpg";
    const DWORD busySince = GetTickCount();
    std::thread key(testsupport::SendCameraKey);
    // This thread is the window's: it answers nothing until the key has gone by and two
    // seconds have passed.
    key.join();
    const DWORD busy = GetTickCount() - busySince;
    if (busy < 2000) Sleep(2000 - busy);
    EXPECT_TRUE(PumpUntil([&] { return std::filesystem::exists(pictures + L"\\image_kv_0.jpg"); }))
        << "the key was lost";
}

// Suspend and resume while the window is minimised: restored, it shows what is true, the
// bar right under the picture (or alone when the preview is off).
TEST_F(MainWindow, SuspendAndResumeWhileMinimisedKeepTheBarUnderThePicture) {
    ShowAndStart();
    auto minimise = [&] {
        ShowWindow(wnd, SW_MINIMIZE);
        ASSERT_TRUE(PumpUntil([&] { return IsIconic(wnd) != FALSE; }));
    };
    auto restore = [&] {
        ShowWindow(wnd, SW_RESTORE);
        ASSERT_TRUE(PumpUntil([&] { return !IsIconic(wnd); }));
    };
    minimise();
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    restore();
    EXPECT_FALSE(form->IsPreviewing());
    EXPECT_EQ(ClientSize().cy, 40);
    ExpectBarBelowPicture();

    minimise();
    SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    ASSERT_TRUE(form->tmrCamUse->Enabled());
    form->tmrCamUseTimer();
    EXPECT_TRUE(form->IsPreviewing());
    restore();
    EXPECT_EQ(ClientSize().cy, 520);
    EXPECT_EQ(form->gcap->Height(), 480);
    ExpectBarBelowPicture();
    EXPECT_TRUE(PictureShowsCamera());
}
