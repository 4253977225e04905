// The control's surface: construction and destruction, defaults, the property rules, the
// per-frame handler swap while previewing, and recording's refusal while it is not wired.
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"

#include <memory>

using namespace captest;

namespace {

using SurfaceTest = CaptureFixture;

}  // namespace

TEST(SurfaceConstruction, DefaultsAndTheFloatingPointControlWord) {
    fw::Application app;
    const uint16_t before = ReadFpuControlWord();
    WriteFpuControlWord(0x027F);  // exceptions masked, double precision: distinct from 0x133F
    {
        TGDirectCapPin2 cap(&app);
        // Bit 6 of the x87 control word is reserved and reads back as 1.
        EXPECT_EQ(ReadFpuControlWord() & ~0x40, 0x133F);
        EXPECT_EQ(cap.Width(), 160);
        EXPECT_EQ(cap.Height(), 120);
        EXPECT_EQ(cap.Color(), fw::clBlack);
        EXPECT_EQ(cap.Requested().VideoFrameRate, 15.0);
        EXPECT_EQ(cap.Requested().VideoBitCount, 24);
        EXPECT_EQ(cap.ImageFileName, L"capture.bmp");
        EXPECT_EQ(cap.VideoFileName, L"capture.avi");
        EXPECT_TRUE(cap.WantPreview);
        EXPECT_EQ(cap.CapTimeLimit(), 0u);
        EXPECT_EQ(cap.BufferFileSize, 1u);
        EXPECT_EQ(cap.Requested().FrameWidth, 320);
        EXPECT_EQ(cap.Requested().FrameHeight, 240);
        EXPECT_EQ(cap.Requested().AudioSampleRate, 8000);
        EXPECT_EQ(cap.Requested().AudioChannels, 1);
        EXPECT_EQ(cap.Requested().AudioBitsPerSample, 16);
        EXPECT_TRUE(cap.Requested().VideoChanged);
        EXPECT_TRUE(cap.Requested().AudioChanged);
        EXPECT_FALSE(cap.Previewing());
        EXPECT_FALSE(cap.Capturing());
        EXPECT_EQ(cap.SensorFilter(), nullptr);
        // The device lists were filled.
        EXPECT_FALSE(VideoDeviceList().empty());
        EXPECT_TRUE(cap.VideoSizeNames().empty());
        EXPECT_FALSE(cap.StartPreview());
    }
    EXPECT_EQ(ReadFpuControlWord(), 0x027F);
    WriteFpuControlWord(before);
}

TEST_F(SurfaceTest, PropertyRules) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        cap->SetVideoBitCount(bits);
        EXPECT_EQ(cap->Requested().VideoBitCount, bits);
    }
    for (int bits : {0, 2, 12, 15, 33, -8}) {
        cap->SetVideoBitCount(bits);
        EXPECT_EQ(cap->Requested().VideoBitCount, 24) << bits;
    }
    cap->SetVideoFrameRate(60);
    EXPECT_EQ(cap->Requested().VideoFrameRate, 30.0);
    cap->SetVideoFrameRate(30);
    EXPECT_EQ(cap->Requested().VideoFrameRate, 30.0);
    cap->SetVideoFrameRate(0.5);
    EXPECT_EQ(cap->Requested().VideoFrameRate, 0.5);
    cap->SetCapTimeLimit(4294967295u);
    EXPECT_EQ(cap->CapTimeLimit(), 4294957295u);
    cap->SetCapTimeLimit(4294957296u);
    EXPECT_EQ(cap->CapTimeLimit(), 4294957295u);
    cap->SetCapTimeLimit(4294957295u);
    EXPECT_EQ(cap->CapTimeLimit(), 4294957295u);
    cap->SetCapTimeLimit(5);
    EXPECT_EQ(cap->CapTimeLimit(), 5u);

    cap->SetAudioFormat(48000, 3, 24);
    EXPECT_EQ(cap->Requested().AudioSampleRate, 8000);
    EXPECT_EQ(cap->Requested().AudioChannels, 1);
    EXPECT_EQ(cap->Requested().AudioBitsPerSample, 8);
    cap->SetAudioFormat(22050, 2, 16);
    EXPECT_EQ(cap->Requested().AudioSampleRate, 22050);
    EXPECT_EQ(cap->Requested().AudioChannels, 2);
    EXPECT_EQ(cap->Requested().AudioBitsPerSample, 16);

    cap->SetVideoFormat(123, 77, 45, 12);
    EXPECT_EQ(cap->Requested().FrameWidth, 123);
    EXPECT_EQ(cap->Requested().FrameHeight, 77);
    EXPECT_EQ(cap->Requested().VideoFrameRate, 30.0);
    EXPECT_EQ(cap->Requested().VideoBitCount, 24);
    EXPECT_TRUE(Events().empty());
}

TEST_F(SurfaceTest, SettersMarkTheFormatsChangedAfterABuild) {
    ASSERT_TRUE(SelectCamera(true));
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_FALSE(cap->Requested().VideoChanged);
    EXPECT_FALSE(cap->Requested().AudioChanged);
    cap->SetVideoBitCount(24);
    EXPECT_TRUE(cap->Requested().VideoChanged);
    cap->SetAudioFormat(8000, 1, 8);
    EXPECT_TRUE(cap->Requested().AudioChanged);
}

TEST_F(SurfaceTest, NewFrameHandlerTakesOverWhilePreviewing) {
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(2));
    std::atomic<uint32_t> firstOfNew{0};
    std::atomic<int> seen{0};
    cap->SetOnVideoPreview([&](uint32_t frame, BYTE*&, int32_t&) {
        if (seen++ == 0) firstOfNew = frame;
    });
    const uint32_t old = frames.load();
    ASSERT_TRUE(PumpUntil([&] { return seen.load() >= 3; }));
    // The old handler got nothing more beyond a frame in flight; numbering goes on.
    EXPECT_LE(frames.load(), old + 1);
    EXPECT_GE(firstOfNew.load(), old);
    cap->SetOnVideoPreview(nullptr);
    const int stopped = seen.load();
    // Frames go on passing the callback object; by three more, a removed handler that
    // still ran would have shown.
    const uint32_t counted = ControlProbe::VideoCallback(*cap).FrameCount();
    ASSERT_TRUE(
        PumpUntil([&] { return ControlProbe::VideoCallback(*cap).FrameCount() >= counted + 3; }));
    EXPECT_LE(seen.load(), stopped + 1);
}

TEST_F(SurfaceTest, StopCaptureWithoutARecordingChangesNothing) {
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    EXPECT_FALSE(cap->StopCapture());
    EXPECT_TRUE(Events().empty());
    EXPECT_TRUE(cap->Previewing());
    EXPECT_FALSE(cap->Capturing());
}

TEST_F(SurfaceTest, DestroyedWhilePreviewingStopsTheCameraQuietly) {
    ASSERT_TRUE(SelectCamera(true));
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(3));
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueFramesProduced);
    ClearEvents();
    delete form;
    form = nullptr;
    cap = nullptr;
    EXPECT_TRUE(Events().empty());
    // The camera was stopped (it reports its count at Stop).
    EXPECT_NE(CameraConfig::ReadDword(vcam::kValueFramesProduced, 0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFpuControlWord(), fpuBeforeControl);
}
