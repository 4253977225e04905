// The live preview: frames reaching the per-frame handler, the renderer inside the
// control, starting and stopping, a camera that will not run or gets lost, and the
// filters the wiring chooses.
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"

#include "capture/GraphDecisions.h"
#include "devices/VMFilter.h"
#include "tests/support/ScreenPixels.h"

#include <algorithm>

using namespace captest;
using Microsoft::WRL::ComPtr;
using testsupport::Rgb;
using testsupport::ScreenMean;

namespace {

using PreviewTest = CaptureFixture;

HWND FirstChild(HWND parent) { return ::FindWindowExW(parent, nullptr, nullptr, nullptr); }

}  // namespace

// The rate itself is measured by bench/capture.
TEST_F(PreviewTest, FramesArriveAsRgb24OfTheRequestedSize) {
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(320, 240, 30, 24);
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(Events(), (std::vector<std::string>{"VideoFormatChange", "StartPreview"}));
    EXPECT_TRUE(cap->Previewing());
    ASSERT_TRUE(WaitFrames(3));
    EXPECT_EQ(lastSize.load(), 320 * 240 * 3);
    cap->StopPreview();
    EXPECT_EQ(ControlProbe::VideoCallback(*cap).FrameCount(), frames.load());
}

// A streaming error of the camera's driver ends the stream: the preview starts again
// instead of showing its last frame for ever.
TEST_F(PreviewTest, AStreamErrorStartsThePreviewAgain) {
    config.SetDword(vcam::kValueAbortAfterMs, 500);
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    const auto restarted = [&] {
        const std::vector<std::string> e = Events();
        return std::find(e.begin(), e.end(), "StartPreview") != e.end();
    };
    ASSERT_TRUE(PumpUntil(restarted, 8000));
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview", "Error27", "StartPreview"}));
    EXPECT_TRUE(WaitFrames(frames.load() + 3));
}

TEST_F(PreviewTest, StartTwiceAndStopWhenStopped) {
    ASSERT_TRUE(SelectCamera());
    EXPECT_FALSE(cap->StopPreview());
    // The start is reported once it is true.
    bool previewingWhenReported = false;
    cap->OnStartPreview = [&, logged = cap->OnStartPreview] {
        previewingWhenReported = cap->Previewing();
        logged();
    };
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_TRUE(previewingWhenReported);
    EXPECT_FALSE(cap->StartPreview());
    auto events = Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "StartPreview"), 1);
    ASSERT_TRUE(WaitFrames(2));

    ClearEvents();
    EXPECT_TRUE(cap->StopPreview());
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview"}));
    EXPECT_FALSE(ControlProbe::VideoCallback(*cap).Enabled());
    EXPECT_FALSE(cap->StopPreview());
    EXPECT_EQ(Events().size(), 1u);
    // Stopped means stopped: the camera itself no longer streams.
    const uint32_t stopped = frames.load();
    FILTER_STATE state = State_Running;
    EXPECT_EQ(ControlProbe::VideoCaptureFilter(*cap)->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    // The built graph is reused: the next start only runs it again, from frame 1.
    const auto built = ControlProbe::GraphFilters(*cap);
    EXPECT_GT(built.size(), 1u);
    std::atomic<uint32_t> firstNumber{0};
    cap->SetOnVideoPreview([&](uint32_t number, BYTE*&, int32_t&) {
        uint32_t none = 0;
        firstNumber.compare_exchange_strong(none, number);
        ++frames;
    });
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(ControlProbe::GraphFilters(*cap), built);
    EXPECT_TRUE(WaitFrames(stopped + 2));
    EXPECT_EQ(firstNumber.load(), 1u);
    cap->StopPreview();
    cap->SetOnVideoPreview(nullptr);
}

TEST_F(PreviewTest, RendererIsAChildOfTheControlShowingTheCameraAndFollowsItsSize) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(5));
    HWND video = FirstChild(cap->Handle());
    ASSERT_NE(video, nullptr);
    RECT rc;
    ::GetWindowRect(video, &rc);
    EXPECT_EQ(rc.right - rc.left, 320);
    EXPECT_EQ(rc.bottom - rc.top, 240);

    // The forward sensor's picture is blue, the backward one's orange (once painted).
    Rgb forward;
    EXPECT_TRUE(PumpUntil([&] {
        forward = ScreenMean(cap->Handle());
        return forward.b > forward.r + 20;
    })) << forward.r
        << ' ' << forward.g << ' ' << forward.b;
    ASSERT_TRUE(cap->SensorFilter());
    cap->SensorFilter()->SelectSensor(2);
    Rgb backward;
    EXPECT_TRUE(PumpUntil([&] {
        backward = ScreenMean(cap->Handle());
        return backward.r > backward.b + 20;
    })) << backward.r
        << ' ' << backward.g << ' ' << backward.b;

    cap->SetBounds(0, 0, 200, 150);
    app.ProcessMessages();
    ::GetWindowRect(video, &rc);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(rc.bottom - rc.top, 150);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
}

TEST_F(PreviewTest, CameraThatWillNotRunGivesCode21AndLeavesNoBusyGraph) {
    config.SetDword(vcam::kValueFailRun, 1);
    ASSERT_TRUE(SelectCamera());
    ClearEvents();
    EXPECT_FALSE(cap->StartPreview());
    auto events = Events();
    EXPECT_EQ(Errors(), (std::vector<int>{21}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "StartPreview"), 0);
    EXPECT_FALSE(cap->Previewing());
    // The built graph stays; a second start only tries to run it again.
    const auto built = ControlProbe::GraphFilters(*cap);
    EXPECT_GT(built.size(), 1u);
    EXPECT_FALSE(cap->StartPreview());
    EXPECT_EQ(Errors(), (std::vector<int>{21, 21}));
    EXPECT_EQ(ControlProbe::GraphFilters(*cap), built);

    // Every filter is stopped, so releasing the graph leaves no thread spinning.
    for (const auto& f : built) {
        FILTER_STATE state = State_Running;
        f->GetState(0, &state);
        EXPECT_EQ(state, State_Stopped);
    }
    // The CPU share after the release is measured by bench/capture.
    cap->SelectDevices(-1, -1);
}

// A driver whose Stop fails: the stop is reported with code 23 and no stop event, the
// control no longer previews, and the next start runs the camera again.
TEST_F(PreviewTest, CameraThatWillNotStopGivesCode23AndStartsAgain) {
    config.SetDword(vcam::kValueFailStop, vcam::kFailCamera);
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    EXPECT_FALSE(cap->StopPreview());
    EXPECT_EQ(Events(), (std::vector<std::string>{"Error23"}));
    EXPECT_FALSE(cap->Previewing());
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

// The graph's video window reaches no renderer: the preview runs without a picture and
// says so.
TEST_F(PreviewTest, AGraphWithoutAVideoRendererGivesCode14) {
    testsupport::GraphLacking graph(L"NoVideoRenderer");
    ASSERT_TRUE(SelectCamera());
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_EQ(Errors(), std::vector<int>{ErrPreviewVideoWindow});
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

// A grabber that will not take its media type: the preview runs all the same and says so.
TEST_F(PreviewTest, AGrabberThatRefusesItsMediaTypeGivesCode24) {
    testsupport::GrabberRefusingMediaType refusing;
    ASSERT_TRUE(SelectCamera());
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_EQ(Errors(), std::vector<int>{ErrGrabberMediaType});
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

TEST_F(PreviewTest, LostCameraReportsCode26AndThePreviewIsStartedAgain) {
    config.SetDword(vcam::kValueLoseAfterMs, 300);
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    ASSERT_TRUE(PumpUntil([&] { return !Errors().empty(); }, 4000));
    // The restart runs at once, in the same handling of the graph's events; this camera
    // stays gone, so it cannot run.
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview", "Error26", "Error21"}));
    EXPECT_FALSE(cap->Previewing());
}

TEST_F(PreviewTest, LostCameraWithoutWantPreviewIsNotRestarted) {
    config.SetDword(vcam::kValueLoseAfterMs, 200);
    cap->WantPreview = false;
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    ASSERT_TRUE(PumpUntil([&] { return !Errors().empty(); }, 4000));
    // A restart would have come in the same handling of the graph's events.
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview", "Error26"}));
}

TEST_F(PreviewTest, BuilderFiltersAreReusedAndTheChainIsComplete) {
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(2));
    // One Smart Tee: the builder's, found although the platform may name it otherwise.
    EXPECT_EQ(CountFilters(CLSID_SmartTee), 1);
    // RGB needs no decoder.
    EXPECT_EQ(CountFilters(CLSID_AVIDec), 0);
    const auto names = FilterNames();
    EXPECT_NE(std::find(names.begin(), names.end(), L"Preview Video Grabber"), names.end());
    // Exactly one renderer, and it is connected.
    EXPECT_EQ(CountFilters(CLSID_VideoRenderer), 1);
}

TEST(GraphDecisions, DecoderByCompressionCode) {
    EXPECT_EQ(DecoderForFourCC(MAKEFOURCC('I', '4', '2', '0')), TDecoderKind::Avi);
    EXPECT_EQ(DecoderForFourCC(MAKEFOURCC('Y', 'U', 'Y', '2')), TDecoderKind::Avi);
    EXPECT_EQ(DecoderForFourCC(MAKEFOURCC('U', 'Y', 'V', 'Y')), TDecoderKind::Avi);
    EXPECT_EQ(DecoderForFourCC(MAKEFOURCC('M', 'J', 'P', 'G')), TDecoderKind::Mjpeg);
    EXPECT_EQ(DecoderForFourCC(BI_RGB), TDecoderKind::None);
    EXPECT_EQ(DecoderForFourCC(MAKEFOURCC('Y', 'V', '1', '2')), TDecoderKind::None);
}

TEST(GraphDecisions, GrabberSubtypeByBitCount) {
    EXPECT_EQ(RgbSubtypeForBitCount(1), MEDIASUBTYPE_RGB1);
    EXPECT_EQ(RgbSubtypeForBitCount(4), MEDIASUBTYPE_RGB4);
    EXPECT_EQ(RgbSubtypeForBitCount(8), MEDIASUBTYPE_RGB8);
    EXPECT_EQ(RgbSubtypeForBitCount(16), MEDIASUBTYPE_RGB555);
    EXPECT_EQ(RgbSubtypeForBitCount(32), MEDIASUBTYPE_RGB32);
    for (int bits : {0, 12, 24, 48}) EXPECT_EQ(RgbSubtypeForBitCount(bits), MEDIASUBTYPE_RGB24);
}

// A YUY2 camera gets the AVI decoder, and with a still pin a second one that nothing joins;
// the preview and then the recording graph are each built from the devices alone (decoders
// of the last graph go with it), and the camera's capture output feeds the Smart Tee.
TEST_F(PreviewTest, Yuy2CameraGetsTheAviDecoderAndAStillPinASecondOne) {
    config.SetString(vcam::kValueSubtype, L"YUY2");
    TempFolder dir(L"yuy2");
    for (DWORD still : {0u, 1u}) {
        SCOPED_TRACE(still);
        config.SetDword(vcam::kValueStillPin, still);
        ASSERT_TRUE(SelectCamera());
        cap->SetVideoFormat(320, 240, 15, 16);
        cap->VideoFileName = dir.Path() + L"clip_.avi";
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            ASSERT_TRUE(round == 0 ? cap->StartPreview() : cap->StartCapture());
            const std::vector<std::wstring> names = FilterNames();
            const auto has = [&](const wchar_t* n) {
                return std::find(names.begin(), names.end(), n) != names.end();
            };
            EXPECT_TRUE(has(L"AVI Decompressor"));
            EXPECT_EQ(has(L"Still AVI Decompressor"), still == 1);
            EXPECT_EQ(CountFilters(CLSID_AVIDec), still == 1 ? 2 : 1);
            ComPtr<IBaseFilter> tee = GraphFilter(CLSID_SmartTee);
            ComPtr<IPin> peer;
            ASSERT_TRUE(tee && SUCCEEDED(FirstPin(tee.Get(), PINDIR_INPUT)->ConnectedTo(&peer)));
            EXPECT_EQ(PinName(peer.Get()), vcam::kCapturePinName);
            if (round == 0)
                cap->StopPreview();
            else
                cap->StopCapture();
        }
    }
}

// The cameras people own: each format at two sizes reaches the per-frame handler as RGB of
// the frame's size (from the AVI decoder in its first RGB type, 32 bits: the grabber is
// given its type only once it is joined), through the chain the format needs (MJPG the
// MJPEG decoder, the YUV layouts the AVI decoder with the system's codec, RGB none), and
// the window shows each sensor's picture.
TEST_F(PreviewTest, EveryCameraFormatIsShownThroughTheChainItNeeds) {
    ForEachFormatAndSize([&](const CameraFormat& format, SIZE size) {
        ASSERT_TRUE(cap->StartPreview());
        EXPECT_EQ(Errors(), std::vector<int>{});
        const uint32_t before = frames.load();
        ASSERT_TRUE(WaitFrames(before + 3));
        EXPECT_EQ(lastSize.load(), size.cx * size.cy * (format.bits == 24 ? 3 : 4));
        std::vector<CLSID> expected{CLSID_SampleGrabber, CLSID_Colour, CLSID_VideoRenderer};
        if (!format.subtype) expected.insert(expected.begin(), CLSID_MjpegDec);
        if (format.bits != 24) expected.insert(expected.begin(), CLSID_AVIDec);
        EXPECT_EQ(PreviewChain(), expected);
        Rgb forward;
        EXPECT_TRUE(PumpUntil([&] {
            forward = ScreenMean(cap->Handle());
            return forward.b > forward.r + 20;
        })) << forward.r
            << ' ' << forward.g << ' ' << forward.b;
        cap->SensorFilter()->SelectSensor(vcam::kBackwardSensor);
        Rgb backward;
        EXPECT_TRUE(PumpUntil([&] {
            backward = ScreenMean(cap->Handle());
            return backward.r > backward.b + 20;
        })) << backward.r
            << ' ' << backward.g << ' ' << backward.b;
        cap->StopPreview();
    });
}

TEST_F(PreviewTest, StillPinOnAnRgbCameraAddsNoDecoder) {
    config.SetDword(vcam::kValueStillPin, 1);
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(CountFilters(CLSID_AVIDec), 0);
    EXPECT_TRUE(WaitFrames(2));
}

TEST_F(PreviewTest, MicrophoneBuffersReachTheAudioHandler) {
    std::atomic<int> buffers{0};
    std::atomic<int32_t> size{0};
    cap->SetOnAudioPreview([&](uint32_t, BYTE*&, int32_t& s) {
        size = s;
        ++buffers;
    });
    cap->SetAudioFormat(44100, 1, 16);
    ASSERT_TRUE(SelectCamera(true));
    ClearEvents();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"VideoFormatChange", "AudioFormatChange", "StartPreview"}));
    EXPECT_TRUE(PumpUntil([&] { return buffers.load() >= 3; }));
    EXPECT_GT(size.load(), 0);
    const WAVEFORMATEX& wf = ControlProbe::StoredAudioFormat(*cap);
    EXPECT_EQ(wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(wf.nBlockAlign, 2);
    EXPECT_EQ(wf.nAvgBytesPerSec, 88200u);
    cap->SetOnAudioPreview(nullptr);
    cap->StopPreview();
}

// A recording without preview takes the preview chain down: the camera stays, and
// nothing but this test holds the removed renderer any more. The preview builds again.
TEST_F(PreviewTest, TearDownRemovesEverythingDownstreamAndLetsGoOfIt) {
    TempFolder dir(L"teardown");
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(cap->StopPreview());
    ComPtr<IBaseFilter> renderer = GraphFilter(CLSID_VideoRenderer);
    ASSERT_TRUE(renderer);
    cap->WantPreview = false;
    cap->VideoFileName = dir.Path() + L"clip_.avi";
    ASSERT_TRUE(cap->StartCapture());
    EXPECT_EQ(CountFilters(CLSID_VideoRenderer), 0);
    EXPECT_EQ(CountFilters(CLSID_SmartTee), 0);
    EXPECT_EQ(CountFilters(vcam::CLSID_OrvixTestCamera), 1);
    renderer->AddRef();
    EXPECT_EQ(renderer->Release(), 1u);
    ASSERT_TRUE(cap->StopCapture());
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
    EXPECT_EQ(CountFilters(CLSID_VideoRenderer), 1);
}

namespace {

constexpr UINT kStartMessage = WM_APP + 23;
TGDirectCapPin2* g_nestedTarget = nullptr;

LRESULT CALLBACK StartingWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kStartMessage && g_nestedTarget) {
        g_nestedTarget->StartPreview();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

// The build services the message queue while it attaches the video window; a second
// start that a message asks for meanwhile must neither build a second chain nor fail.
TEST_F(PreviewTest, StartAskedForDuringTheBuildIsHarmless) {
    ASSERT_TRUE(SelectCamera());
    WNDCLASSW wc{};
    wc.lpfnWndProc = StartingWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvixNestedStart";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    g_nestedTarget = cap;
    ClearEvents();
    ::PostMessageW(hwnd, kStartMessage, 0, 0);
    EXPECT_TRUE(cap->StartPreview());
    g_nestedTarget = nullptr;
    ::DestroyWindow(hwnd);
    auto events = Events();
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(std::count(events.begin(), events.end(), "StartPreview"), 1);
    EXPECT_EQ(CountFilters(CLSID_SmartTee), 1);
    EXPECT_EQ(CountFilters(CLSID_VideoRenderer), 1);
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}
