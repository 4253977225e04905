// Formats and dialogs: requested sizes reaching the camera at the next build, refusals,
// the sizes the camera offers, the option list, the filter's and the pins' property pages
// and a camera's driver dialogs, answered with real keys.
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"
#include "tests/support/MessageBoxes.h"
#include "tests/ui/UiTestSupport.h"

#include <algorithm>
#include <tuple>

using namespace captest;
using Microsoft::WRL::ComPtr;

namespace {

using FormatTest = CaptureFixture;

// Shows option Kind while a user answers the dialog titled Title with Keys (the last one
// closes it); the option's result, or -1 when the dialog did not open or stayed open.
// Owner receives the dialog's owner window.
int AnswerOption(TGDirectCapPin2* cap, int kind, const wchar_t* title,
                 std::initializer_list<WORD> keys, HWND* owner = nullptr) {
    int result = -1;
    bool answered = false;
    uitest::RunWithUser([&] { result = cap->ShowDeviceOption(kind); },
                        [&] {
                            HWND dialog = uitest::WaitForActiveForm(title);
                            if (!dialog) return;
                            if (owner) *owner = GetWindow(dialog, GW_OWNER);
                            for (WORD key : keys) uitest::PressKey(key);
                            answered = uitest::WaitWindowGone(dialog);
                        });
    return answered ? result : -1;
}

// The format the camera's capture output is set to, as the camera itself reports it.
VIDEOINFOHEADER DeviceFormat(IBaseFilter* camera) {
    ComPtr<IAMStreamConfig> config;
    TMediaTypePtr mt;
    VIDEOINFOHEADER vih{};
    ComPtr<IPin> out = FirstPin(camera, PINDIR_OUTPUT);
    if (out && SUCCEEDED(out.As(&config)) && SUCCEEDED(config->GetFormat(mt.put())) &&
        mt.VideoInfo())
        vih = *mt.VideoInfo();
    return vih;
}

}  // namespace

TEST_F(FormatTest, RequestedFormatReachesTheCameraAtTheNextBuild) {
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(cap->StopPreview());
    cap->SetVideoFormat(352, 288, 15, 24);
    // Stored only: the camera keeps its format until a graph is built.
    EXPECT_EQ(DeviceFormat(ControlProbe::VideoCaptureFilter(*cap)).bmiHeader.biWidth, 320);
    cap->SelectDevices(IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName), -1);
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(Events(), (std::vector<std::string>{"VideoFormatChange", "StartPreview"}));
    const VIDEOINFOHEADER vih = DeviceFormat(ControlProbe::VideoCaptureFilter(*cap));
    EXPECT_EQ(vih.bmiHeader.biWidth, 352);
    EXPECT_EQ(vih.bmiHeader.biHeight, 288);
    EXPECT_EQ(vih.AvgTimePerFrame, 666667);
    EXPECT_EQ(ControlProbe::StoredVideoFormat(*cap).bmiHeader.biSizeImage, 352u * 288u * 3u);
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(lastSize.load(), 352 * 288 * 3);
}

// A camera without IAMStreamConfig cannot be told a size: it previews at its own, and the
// sizes reported are the ones its frames have.
TEST_F(FormatTest, ACameraWithoutStreamConfigKeepsItsOwnSize) {
    config.SetDword(vcam::kValueNoStreamConfig, vcam::kFailCamera);
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(352, 288, 15, 24);
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(lastSize.load(), cap->Requested().FrameWidth * cap->Requested().FrameHeight * 3)
        << cap->Requested().FrameWidth << " x " << cap->Requested().FrameHeight;
}

TEST_F(FormatTest, RefusedSizeGivesCode15AndTheCamerasOwnSize) {
    ASSERT_TRUE(SelectCamera());
    const VIDEOINFOHEADER before = DeviceFormat(ControlProbe::VideoCaptureFilter(*cap));
    cap->SetVideoFormat(800, 600, 15, 24);
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(Events(), (std::vector<std::string>{"Error15", "StartPreview"}));
    EXPECT_EQ(cap->Requested().FrameWidth, before.bmiHeader.biWidth);
    EXPECT_EQ(cap->Requested().FrameHeight, before.bmiHeader.biHeight);
    EXPECT_EQ(cap->Requested().VideoBitCount, before.bmiHeader.biBitCount);
    // The frames the handler sees match the size reported.
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(lastSize.load(), cap->Requested().FrameWidth * cap->Requested().FrameHeight * 3);
}

// The program asks for 24 bits; a YUV camera takes the size at its own depth.
TEST_F(FormatTest, YuvCamerasTakeTheSizeAtTheirOwnDepth) {
    for (const auto& [name, fourcc, bits] :
         {std::tuple{L"YUY2", MAKEFOURCC('Y', 'U', 'Y', '2'), 16},
          std::tuple{L"I420", MAKEFOURCC('I', '4', '2', '0'), 12}}) {
        SCOPED_TRACE(Narrow(name));
        config.SetString(vcam::kValueSubtype, name);
        ASSERT_TRUE(SelectCamera());
        ASSERT_EQ(DeviceFormat(ControlProbe::VideoCaptureFilter(*cap)).bmiHeader.biCompression,
                  fourcc);
        cap->SetVideoFormat(320, 240, 15, 24);
        ClearEvents();
        cap->StartPreview();
        ASSERT_FALSE(Events().empty());
        EXPECT_EQ(Events().front(), "VideoFormatChange");
        const VIDEOINFOHEADER now = DeviceFormat(ControlProbe::VideoCaptureFilter(*cap));
        EXPECT_EQ(now.bmiHeader.biCompression, fourcc);
        EXPECT_EQ(now.bmiHeader.biWidth, 320);
        EXPECT_EQ(cap->Requested().VideoBitCount, bits);
        EXPECT_EQ(ControlProbe::StoredVideoFormat(*cap).bmiHeader.biSizeImage,
                  320u * 240u * bits / 8);
        cap->StopPreview();
    }
}

TEST_F(FormatTest, AudioFormatIsAppliedAtTheBuild) {
    ASSERT_TRUE(SelectCamera(true));
    cap->SetAudioFormat(44100, 1, 16);
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    const auto events = Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "AudioFormatChange"), events.end());
    const WAVEFORMATEX& wf = ControlProbe::StoredAudioFormat(*cap);
    EXPECT_EQ(wf.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wf.nChannels, 1);
    EXPECT_EQ(wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(wf.wBitsPerSample, 16);
    EXPECT_EQ(wf.nBlockAlign, 2);
    EXPECT_EQ(wf.nAvgBytesPerSec, 88200u);
    EXPECT_FALSE(cap->Requested().AudioChanged);
    // A new format waits for the next build, which the next device choice brings.
    cap->SetAudioFormat(22050, 2, 8);
    EXPECT_EQ(ControlProbe::StoredAudioFormat(*cap).nSamplesPerSec, 44100u);
    ASSERT_TRUE(SelectCamera(true));
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(ControlProbe::StoredAudioFormat(*cap).nSamplesPerSec, 22050u);
    EXPECT_EQ(ControlProbe::StoredAudioFormat(*cap).nBlockAlign, 2);
    EXPECT_EQ(ControlProbe::StoredAudioFormat(*cap).nAvgBytesPerSec, 44100u);
}

// A microphone that refuses the format keeps its own and the preview goes on with it.
TEST_F(FormatTest, RefusedAudioFormatGivesCode16) {
    config.SetDword(vcam::kValueRefuseFormat, vcam::kFailMicrophone);
    ASSERT_TRUE(SelectCamera(true));
    cap->SetAudioFormat(22050, 1, 16);
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(Errors(), (std::vector<int>{16}));
    const auto events = Events();
    EXPECT_EQ(std::find(events.begin(), events.end(), "AudioFormatChange"), events.end());
}

// A size the camera offers in two formats (the default camera: MJPG and YUY2) is named once.
TEST_F(FormatTest, SizeNamesFollowTheCapabilitiesOnlyWithADevice) {
    EXPECT_TRUE(cap->VideoSizeNames().empty());
    config.Remove(vcam::kValueSubtype);
    ASSERT_TRUE(SelectCamera());
    EXPECT_EQ(cap->VideoSizeNames(),
              (std::vector<std::string>{"640 x 480", "352 x 288", "320 x 240", "160 x 120",
                                        "1280 x 720", "1920 x 1080"}));
    cap->SelectDevices(-1, -1);
    EXPECT_TRUE(cap->VideoSizeNames().empty());
}

TEST(DeviceOptions, EntriesByNameAndKind) {
    TDeviceOptions none(nullptr);
    none.Add(OptionVideoCaptureFilter, "Video Capture Filter");
    EXPECT_EQ(none.Execute("Video Capture Filter"), E_FAIL);
    EXPECT_EQ(none.NameOf(0), "Video Capture Filter");
    EXPECT_EQ(none.NameOf(1), "");
    EXPECT_EQ(none.NameOf(-1), "");
    EXPECT_TRUE(none.IsKind(0, OptionVideoCaptureFilter));
    EXPECT_FALSE(none.IsKind(0, OptionVideoSource));
    EXPECT_FALSE(none.IsKind(5, OptionVideoCaptureFilter));
    none.Clear();
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(none.NameOf(0), "");
    none.Add(OptionAudioCompress, "Audio Compress");
    EXPECT_EQ(none.NameOf(0), "Audio Compress");
    EXPECT_EQ(none.Count(), 1);
}

TEST_F(FormatTest, OptionsRunThroughTheControlByExactName) {
    // Without a video device nothing is shown and the result is 1.
    EXPECT_EQ(cap->ShowDeviceOption(OptionVideoCaptureFilter), 1);
    ASSERT_TRUE(SelectCamera());
    EXPECT_EQ(cap->ShowDeviceOption(99), 1);
    TDeviceOptions options = ControlProbe::DeviceOptions(*cap);
    EXPECT_EQ(options.Execute("video capture filter"), E_FAIL);
    EXPECT_EQ(options.Execute("No Such Option"), E_FAIL);
}

TEST_F(FormatTest, StandInListsItsFilterPageFirstAndTheSourcePageOpensIt) {
    ASSERT_TRUE(SelectCamera());
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(ControlProbe::VideoCaptureFilter(*cap)->QueryInterface(IID_PPV_ARGS(&pages)), S_OK);
    ASSERT_GT(ControlProbe::DeviceOptions(*cap).Count(), 0);
    EXPECT_EQ(ControlProbe::DeviceOptions(*cap).NameOf(0), "Video Capture Filter");
    for (int i = 0; i < ControlProbe::DeviceOptions(*cap).Count(); ++i) {
        EXPECT_FALSE(ControlProbe::DeviceOptions(*cap).IsKind(i, OptionVideoFormat));
        EXPECT_FALSE(ControlProbe::DeviceOptions(*cap).IsKind(i, OptionVideoSource));
    }
    // The property frame is modal: a timer on this thread finds it and closes it.
    static HWND frame;
    frame = nullptr;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {
        if (HWND w = testsupport::VisibleDialogOfThisThread()) {
            frame = w;
            ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
        }
    });
    ASSERT_TRUE(cap->ShowVideoSourcePage());
    ::KillTimer(nullptr, timer);
    EXPECT_NE(frame, nullptr);
}

TEST_F(FormatTest, DriverDialogsAreListedAndTheSourcePageIsTheSourceDialog) {
    config.SetDword(vcam::kValueDriverDialogs, 1);
    ASSERT_TRUE(SelectCamera());
    const TDeviceOptions& options = ControlProbe::DeviceOptions(*cap);
    ASSERT_EQ(options.Count(), 3);
    EXPECT_TRUE(options.IsKind(0, OptionVideoFormat));
    EXPECT_TRUE(options.IsKind(1, OptionVideoSource));
    EXPECT_TRUE(options.IsKind(2, OptionVideoDisplay));
    ASSERT_TRUE(cap->StartPreview());
    // Cancelled: the preview stays stopped and the result says it was not shown.
    HWND owner = nullptr;
    EXPECT_EQ(AnswerOption(cap, OptionVideoSource, vcam::kSourceDialogTitle, {VK_ESCAPE}, &owner),
              1);
    EXPECT_EQ(owner, form->Handle());
    EXPECT_FALSE(cap->Previewing());
    // Accepted: the preview runs again.
    EXPECT_EQ(AnswerOption(cap, OptionVideoDisplay, vcam::kDisplayDialogTitle, {VK_RETURN}), 0);
    EXPECT_FALSE(cap->Previewing()) << "the display dialog started a preview that was off";
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(AnswerOption(cap, OptionVideoSource, vcam::kSourceDialogTitle, {VK_RETURN}), 0);
    EXPECT_TRUE(cap->Previewing());
    bool shown = false;
    uitest::RunWithUser([&] { shown = cap->ShowVideoSourcePage(); },
                        [&] {
                            HWND dialog = uitest::WaitForActiveForm(vcam::kSourceDialogTitle);
                            ASSERT_TRUE(dialog) << "the source page is not the source dialog";
                            uitest::PressKey(VK_RETURN);
                        });
    EXPECT_TRUE(shown);
}

TEST_F(FormatTest, SizeChosenInTheFormatDialogBecomesTheVideoSize) {
    config.SetDword(vcam::kValueDriverDialogs, 1);
    ASSERT_TRUE(SelectCamera());
    ClearEvents();
    // Listed from 640 x 480, the current size: one down is 352 x 288.
    EXPECT_EQ(AnswerOption(cap, OptionVideoFormat, vcam::kFormatDialogTitle, {VK_DOWN, VK_RETURN}),
              0);
    EXPECT_EQ(cap->Requested().FrameWidth, 352);
    EXPECT_EQ(cap->Requested().FrameHeight, 288);
    EXPECT_EQ(Events(), (std::vector<std::string>{"VideoFormatChange"}));
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(lastSize.load(), 352 * 288 * 3);
    // While previewing, the chain built for the old size cannot follow: the graph is built
    // anew at the new size. Cancelled, nothing changes.
    EXPECT_EQ(AnswerOption(cap, OptionVideoFormat, vcam::kFormatDialogTitle, {VK_DOWN, VK_RETURN}),
              0);
    EXPECT_EQ(cap->Requested().FrameWidth, 320);
    frames = 0;
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(lastSize.load(), 320 * 240 * 3);
    AnswerOption(cap, OptionVideoFormat, vcam::kFormatDialogTitle, {VK_DOWN, VK_ESCAPE});
    EXPECT_EQ(cap->Requested().FrameWidth, 320);
}

TEST_F(FormatTest, FormatDialogThatCannotReconnectTearsTheGraphDownAndThePreviewGoesOn) {
    config.SetDword(vcam::kValueDriverDialogs, 1);
    config.SetDword(vcam::kValueFormatDialogResult, static_cast<DWORD>(VFW_E_CANNOT_CONNECT));
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(1));
    // From 320 x 240, the control's first size, one down is 160 x 120; the camera is left
    // unconnected, so only a graph built anew shows it.
    EXPECT_EQ(AnswerOption(cap, OptionVideoFormat, vcam::kFormatDialogTitle, {VK_DOWN, VK_RETURN}),
              0);
    EXPECT_TRUE(cap->Previewing());
    EXPECT_EQ(cap->Requested().FrameWidth, 160);
    frames = 0;
    ASSERT_TRUE(WaitFrames(2)) << "no picture after the format dialog";
    EXPECT_EQ(lastSize.load(), 160 * 120 * 3);
}

TEST_F(FormatTest, PreviewPinPagesComeWithTheGraphTornDown) {
    config.SetDword(vcam::kValuePreviewPin, 1);
    ASSERT_TRUE(SelectCamera());
    int kind = -1;
    for (int i = 0; i < ControlProbe::DeviceOptions(*cap).Count(); ++i)
        if (ControlProbe::DeviceOptions(*cap).IsKind(i, OptionVideoPreviewPin))
            kind = OptionVideoPreviewPin;
    ASSERT_EQ(kind, OptionVideoPreviewPin) << "no preview pin entry";
    ASSERT_TRUE(cap->StartPreview());
    int result = -1;
    bool pageShown = false, graphDown = false;
    uitest::RunWithUser([&] { result = cap->ShowDeviceOption(OptionVideoPreviewPin); },
                        [&] {
                            HWND page = nullptr;
                            ASSERT_TRUE(uitest::WaitUntil([&] {
                                for (HWND top = GetTopWindow(nullptr); top;
                                     top = GetWindow(top, GW_HWNDNEXT)) {
                                    const auto found = uitest::Children(top, vcam::kPageClassName);
                                    if (!found.empty() && IsWindowVisible(top)) {
                                        page = top;
                                        return true;
                                    }
                                }
                                return false;
                            })) << "the preview pin's page did not open";
                            graphDown = !cap->Previewing();
                            pageShown = true;
                            ASSERT_TRUE(uitest::BringToFront(page));
                            uitest::PressKey(VK_ESCAPE);
                        });
    EXPECT_TRUE(pageShown);
    EXPECT_TRUE(graphDown);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(cap->Previewing());
    frames = 0;
    EXPECT_TRUE(WaitFrames(2));
}
