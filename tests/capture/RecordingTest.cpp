// Recording with the stand-in camera and microphone: numbered files, what the ASF writer
// is given, what an independent reader finds in the files, the time limit, refusals, a
// graph left from the last recording, and the pure decisions behind the recording graph.
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"
#include "tests/capture/MediaProbe.h"
#include "tests/support/MessageBoxes.h"

#include "bench/support/BenchSupport.h"
#include "capture/SilentAudioSource.h"
#include "common/u_PathUtil.h"
#include "framework/WinHandles.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>

using namespace captest;
namespace fs = std::filesystem;
using Microsoft::WRL::ComPtr;

namespace {

// What the platform filter doubles were given (tests/doubles).
std::wstring RecordKey(const wchar_t* dbl) {
    return std::wstring(L"Software\\Orvix\\TestDoubles\\") + dbl;
}

std::wstring ReadRecord(const wchar_t* name, const wchar_t* dbl = L"AsfWriter") {
    wchar_t value[512] = {};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, RecordKey(dbl).c_str(), name, RRF_RT_REG_SZ, nullptr,
                       value, &size) != ERROR_SUCCESS)
        return {};
    return value;
}

DWORD ReadRecordDword(const wchar_t* name, const wchar_t* dbl = L"AsfWriter") {
    DWORD value = 0xFFFFFFFF, size = sizeof(value);
    ::RegGetValueW(HKEY_CURRENT_USER, RecordKey(dbl).c_str(), name, RRF_RT_REG_DWORD, nullptr,
                   &value, &size);
    return value;
}

class RecordingTest : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, RecordKey(L"AsfWriter").c_str());
        ::RegDeleteTreeW(HKEY_CURRENT_USER, RecordKey(L"AviMux").c_str());
        cap->OnCaptureProgress = [this](uint32_t sec) { progress.push_back(sec); };
    }

    // The main window's recording format: 320 x 240 at 15 frames a second, 44100 Hz mono
    // 16-bit sound.
    bool Ready() {
        if (!SelectCamera(true)) return false;
        cap->SetAudioFormat(44100, 1, 16);
        cap->SetVideoFormat(320, 240, 15.0, 24);
        return true;
    }

    std::wstring Template(const wchar_t* name) { return (folder / name).wstring(); }

    // Records until ten more frames have come and reads the file back; nothing read when
    // the recording did not start.
    MediaProbe RecordTenFrames() {
        if (!cap->StartCapture()) {
            ADD_FAILURE() << "the recording did not start";
            return {};
        }
        const std::wstring file = cap->CaptureFileName();
        EXPECT_TRUE(WaitFrames(frames.load() + 10));
        EXPECT_TRUE(cap->StopCapture());
        return ProbeMedia(file);
    }

    // Records for about `ms` milliseconds; false when the recording did not start.
    bool Record(DWORD ms) {
        if (!cap->StartCapture()) return false;
        PumpFor(ms);
        EXPECT_TRUE(cap->StopCapture());
        return true;
    }

    TempFolder dir{L"rec"};
    const fs::path folder{dir.Path()};
    std::vector<uint32_t> progress;
};

TEST(RecordingDecisions, FileKindByExtension) {
    EXPECT_EQ(CaptureFileKind(L"C:\\v\\video_kv_0.wmv"), TCaptureFileKind::Asf);
    EXPECT_EQ(CaptureFileKind(L"C:\\v\\a.AVI"), TCaptureFileKind::Avi);
    EXPECT_EQ(CaptureFileKind(L"b.Mpg"), TCaptureFileKind::Avi);
    EXPECT_EQ(CaptureFileKind(L"C:\\v\\clip.mov"), TCaptureFileKind::None);
    EXPECT_EQ(CaptureFileKind(L"C:\\v.avi\\clip"), TCaptureFileKind::None);
    EXPECT_EQ(CaptureFileKind(L""), TCaptureFileKind::None);
}

TEST(RecordingDecisions, PreallocationIsCappedAt2047Megabytes) {
    EXPECT_EQ(CaptureFileAllocation(5000), 2047ull * 1048576);
    EXPECT_EQ(CaptureFileAllocation(2047), 2047ull * 1048576);
    EXPECT_EQ(CaptureFileAllocation(1), 1048576ull);
    EXPECT_EQ(CaptureFileAllocation(0), 0ull);
}

TEST_F(RecordingTest, WmvFilesAreNumberedAndTheWriterGetsProfileNameModeAndBothInputs) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"video_kv_.wmv");
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();

    ASSERT_TRUE(cap->StartCapture());
    EXPECT_TRUE(cap->Capturing());
    EXPECT_FALSE(cap->Previewing());
    const fs::path first = folder / L"video_kv_0.wmv";
    EXPECT_EQ(fs::path(cap->CaptureFileName()), first);
    EXPECT_EQ(ReadRecord(L"Profile"), L"{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}");
    EXPECT_EQ(fs::path(ReadRecord(L"FileName")), first);
    EXPECT_EQ(ReadRecordDword(L"Mode"), static_cast<DWORD>(AM_FILE_OVERWRITE));
    EXPECT_EQ(ReadRecord(L"Input1Type"), L"{73647561-0000-0010-8000-00AA00389B71}");  // audio
    EXPECT_EQ(ReadRecord(L"Input2Type"), L"{73646976-0000-0010-8000-00AA00389B71}");  // video
    // The live picture keeps running inside the recording graph; every frame it shows
    // while recording is a frame of the file too.
    const uint32_t seen = frames.load();
    ASSERT_TRUE(WaitFrames(seen + 30));
    const uint32_t shown = frames.load() - seen;
    ASSERT_TRUE(cap->StopCapture());
    EXPECT_FALSE(cap->Capturing());
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview", "StartCapture", "StopCapture"}));

    const MediaProbe p = ProbeMedia(first.wstring());
    ASSERT_TRUE(p.ran) << "ffprobe could not read " << first.string();
    EXPECT_EQ(p.VideoInt("width"), 320);
    EXPECT_EQ(p.VideoInt("height"), 240);
    EXPECT_EQ(p.AudioInt("sample_rate"), 44100);
    EXPECT_EQ(p.AudioInt("channels"), 1);
    EXPECT_EQ(p.audio.at("sample_fmt"), "s16");
    // The frame in flight at the stop may miss the file.
    const int framesInFile = p.VideoInt("nb_read_packets");
    EXPECT_GE(framesInFile + 2, static_cast<int>(shown));
    EXPECT_NEAR(p.VideoDouble("duration"), framesInFile / 15.0, 0.1);
    EXPECT_NEAR(p.AudioSeconds(), p.VideoDouble("duration"), 1.0);
    EXPECT_EQ(ReadRecordDword(L"VideoFrames"), static_cast<DWORD>(framesInFile));
}

// Each camera format gives a Windows Media recording of 320 x 240 with sound; the formats the
// writer does not take are decoded on the way.
TEST_F(RecordingTest, EveryCameraFormatRecordsAReadableWmv) {
    for (const CameraFormat& format : kCameraFormats) {
        SCOPED_TRACE(format.name);
        UseFormat(format);
        ASSERT_TRUE(SelectCamera(true));
        cap->SetAudioFormat(44100, 1, 16);
        cap->SetVideoFormat(320, 240, 15.0, format.bits);
        cap->VideoFileName = Template(L"video_kv_.wmv");
        const MediaProbe p = RecordTenFrames();
        ASSERT_TRUE(p.ran);
        EXPECT_EQ(p.VideoInt("width"), 320);
        EXPECT_EQ(p.VideoInt("height"), 240);
        EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
        EXPECT_EQ(p.AudioInt("sample_rate"), 44100);
    }
}

// A camera with a still pin ("Stop") and one with a separate preview pin show the live
// picture, take a picture and record, as a camera without either does.
TEST_F(RecordingTest, StillAndPreviewPinCamerasPreviewSnapAndRecord) {
    std::atomic<int> pictures{0};
    cap->OnSnapShot = [&](const std::wstring& name) {
        if (fs::exists(name)) ++pictures;
    };
    cap->ImageFileName = Template(L"image_kv_.jpg");
    for (const wchar_t* pin : {vcam::kValueStillPin, vcam::kValuePreviewPin}) {
        SCOPED_TRACE(fs::path(pin).string());
        config.Remove(vcam::kValueSubtype);  // the default camera: MJPG
        config.Remove(vcam::kValueStillPin);
        config.SetDword(pin, 1);
        ASSERT_TRUE(Ready());
        ClearEvents();
        ASSERT_TRUE(cap->StartPreview());
        EXPECT_TRUE(Errors().empty());
        ASSERT_TRUE(WaitFrames(frames.load() + 3));
        const int before = pictures.load();
        cap->SnapShot();
        EXPECT_TRUE(PumpUntil([&] { return pictures.load() == before + 1; }));
        cap->VideoFileName = Template(L"video_kv_.wmv");
        const MediaProbe p = RecordTenFrames();
        ASSERT_TRUE(p.ran);
        EXPECT_EQ(p.VideoInt("width"), 320);
        EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
        EXPECT_EQ(p.AudioInt("sample_rate"), 44100);
    }
}

// Through the capture graph builder's own AVI output and stream control, as on Windows,
// and through the output made by hand and a plain run where the builder has neither
// (Wine's).
TEST_F(RecordingTest, AviAndMpgNamesGiveAviFilesWithVideoAndSound) {
    ASSERT_TRUE(Ready());
    // More preallocation than an AVI capture file can have still records.
    cap->BufferFileSize = 5000;
    for (const bool windowsBuilder : {true, false}) {
        std::optional<testsupport::BuilderMethodResult> noOutput, noAlloc, noCopy, noControl;
        if (!windowsBuilder) {
            noOutput.emplace(L"SetOutputFileName", E_NOTIMPL);
            noAlloc.emplace(L"AllocCapFile", E_NOTIMPL);
            noCopy.emplace(L"CopyCaptureFile", E_NOTIMPL);
            noControl.emplace(L"ControlStream", E_NOTIMPL);
        }
        for (const wchar_t* name : {L"clip_.avi", L"clip_.mpg"}) {
            SCOPED_TRACE(Narrow(name) + (windowsBuilder ? " through the builder" : " by hand"));
            ::RegDeleteTreeW(HKEY_CURRENT_USER, RecordKey(L"AviMux").c_str());
            cap->VideoFileName = Template(name);
            ASSERT_TRUE(Record(1500));
            const std::wstring file = cap->CaptureFileName();
            EXPECT_EQ(fs::path(file).filename().wstring().substr(0, 6), L"clip_0");
            // What the file holds is the AVI data alone: no preallocated space after it.
            const std::string bytes = testsupport::FileBytes(file);
            ASSERT_GE(bytes.size(), 12u);
            uint32_t riff = 0;
            std::memcpy(&riff, bytes.data() + 4, 4);
            EXPECT_EQ(bytes.size(), riff + 8ull);
            EXPECT_FALSE(fs::exists(file + L".compact"));
            const MediaProbe p = ProbeMedia(file);
            ASSERT_TRUE(p.ran);
            EXPECT_EQ(p.format, "avi");
            EXPECT_EQ(p.VideoInt("width"), 320);
            EXPECT_EQ(p.VideoInt("height"), 240);
            EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
            EXPECT_EQ(p.AudioInt("sample_rate"), 44100);
            EXPECT_GT(p.AudioSeconds(), 0.5);
            // With sound the multiplexer is told to time the file by it, with the old index.
            EXPECT_EQ(ReadRecordDword(L"MasterStream", L"AviMux"), 1u);
            EXPECT_EQ(ReadRecordDword(L"CompatibilityIndex", L"AviMux"), 1u);
            EXPECT_EQ(ReadRecordDword(L"InterleavingMode", L"AviMux"),
                      static_cast<DWORD>(INTERLEAVE_CAPTURE));
            fs::remove(file);
        }
    }
    // Codes of the build other than the master stream (which some multiplexers cannot
    // set) would mean a broken recording graph.
    for (int code : Errors()) EXPECT_EQ(code, ErrMasterStream);
}

// The builder's AVI facilities failing: an output that cannot be set up (code 1) or a file
// that cannot be preallocated (code 25) ends the start with nothing left behind; a
// compaction that fails keeps the recording as it was written.
TEST_F(RecordingTest, BuilderFailuresEndTheStartOrKeepTheFileAsWritten) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"clip_.avi");
    for (const auto& [method, code] : {std::pair{L"SetOutputFileName", ErrSetOutputFile},
                                       std::pair{L"AllocCapFile", ErrPreallocate}}) {
        SCOPED_TRACE(Narrow(method));
        testsupport::BuilderMethodResult failing(method, E_FAIL);
        ClearEvents();
        EXPECT_FALSE(cap->StartCapture());
        EXPECT_EQ(Errors(), (std::vector<int>{code}));
        EXPECT_FALSE(cap->Capturing());
        EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
    }
    testsupport::BuilderMethodResult failing(L"CopyCaptureFile", E_FAIL);
    ASSERT_TRUE(Record(1000));
    const std::wstring file = cap->CaptureFileName();
    EXPECT_FALSE(fs::exists(file + L".compact"));
    EXPECT_TRUE(ProbeMedia(file).ran);
    EXPECT_TRUE(cap->StartPreview());
}

// A microphone whose format is not sound (a capture card's analog line input) is left out
// of the preview, and the recording after it does not ask for it again: video only, not
// timed by a sound stream, and no code.
TEST_F(RecordingTest, AMicrophoneThatDeliversNoSoundStaysOutOfTheRecording) {
    config.SetDword(vcam::kValueAnalogSound, 1);
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"clip_.avi");
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    ASSERT_TRUE(Record(1000));
    EXPECT_EQ(Errors(), std::vector<int>{});
    EXPECT_NE(ReadRecordDword(L"MasterStream", L"AviMux"), 1u);
    const MediaProbe p = ProbeMedia(cap->CaptureFileName());
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
}

// Under a builder that cannot preallocate (Wine's), the name reserved for an AVI recording
// stays taken while the graph is built, until the writer opens it.
TEST_F(RecordingTest, AnAviNameStaysReservedWhileTheGraphIsBuilt) {
    ASSERT_TRUE(Ready());
    testsupport::BuilderMethodResult noAlloc(L"AllocCapFile", E_NOTIMPL);
    cap->VideoFileName = Template(L"clip_.avi");
    // The requested format is applied during the build, after the name was reserved.
    bool reserved = false;
    cap->OnVideoFormatChange = [&] { reserved = fs::exists(cap->CaptureFileName()); };
    ASSERT_TRUE(Record(500));
    EXPECT_TRUE(reserved);
    EXPECT_TRUE(ProbeMedia(cap->CaptureFileName()).ran);
}

// The pin pages take the graph down: a recording running then is finished first, its
// file whole and its end reported.
TEST_F(RecordingTest, PinPagesDuringARecordingFinishItFirst) {
    // The property frame is modal: a timer on this thread closes it.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {
        if (HWND w = testsupport::VisibleDialogOfThisThread())
            ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    });
    for (const int kind : {OptionVideoCapturePin, OptionVideoPreviewPin}) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(Ready());
        cap->VideoFileName = Template(L"video_kv_.wmv");
        ASSERT_TRUE(cap->StartCapture());
        const std::wstring file = cap->CaptureFileName();
        ASSERT_TRUE(WaitFrames(frames.load() + 10));
        ClearEvents();
        cap->ShowDeviceOption(kind);
        EXPECT_FALSE(cap->Capturing());
        const std::vector<std::string> events = Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), "StopCapture"), 1);
        const MediaProbe p = ProbeMedia(file);
        ASSERT_TRUE(p.ran);
        EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    }
    ::KillTimer(nullptr, timer);
}

TEST_F(RecordingTest, AnotherExtensionFailsWithoutAnEventOrAFile) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"clip_.mov");
    cap->BufferFileSize = 5;
    ClearEvents();
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_FALSE(cap->Capturing());
    EXPECT_TRUE(Events().empty());
    EXPECT_FALSE(fs::exists(folder / L"clip_0.mov"));
    // The control is usable afterwards.
    EXPECT_TRUE(cap->StartPreview());
}

TEST_F(RecordingTest, TimeLimitReportsEachSecondThenStopsAndRestartsThePreview) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"limit_.avi");
    cap->SetCapTimeLimit(3);
    ASSERT_TRUE(cap->StartPreview());
    ClearEvents();
    ASSERT_TRUE(cap->StartCapture());
    ASSERT_TRUE(PumpUntil([&] { return cap->Previewing(); }, 15000));
    EXPECT_FALSE(cap->Capturing());
    std::vector<std::string> seq;
    for (const std::string& e : Events()) {
        if (e.rfind("Error", 0) != 0) seq.push_back(e);
    }
    EXPECT_EQ(seq, (std::vector<std::string>{"StopPreview", "StartCapture", "StopCapture",
                                             "StartPreview"}));
    // Progress counts whole seconds, never goes back, and stops short of the limit.
    ASSERT_FALSE(progress.empty());
    EXPECT_LT(progress.back(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(ProbeMedia(cap->CaptureFileName()).ran);
}

TEST_F(RecordingTest, StartWhileRecordingIsRefusedAndTheRecordingGoesOn) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"busy_.wmv");
    ASSERT_TRUE(cap->StartCapture());
    const std::wstring name = cap->CaptureFileName();
    ClearEvents();
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_TRUE(cap->Capturing());
    EXPECT_EQ(cap->CaptureFileName(), name);
    EXPECT_TRUE(Events().empty());
    // The refused start must not have stopped the progress timer.
    progress.clear();
    EXPECT_TRUE(PumpUntil([&] { return !progress.empty(); }));
    const uint32_t seen = frames.load();
    EXPECT_TRUE(WaitFrames(seen + 5));
    EXPECT_TRUE(cap->StopCapture());
    EXPECT_TRUE(ProbeMedia(name).ran);
}

TEST_F(RecordingTest, AStartAfterAStoppedRecordingWritesANewFileAndKeepsTheOld) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"again_.avi");
    ASSERT_TRUE(Record(1000));
    const std::wstring old = cap->CaptureFileName();
    EXPECT_EQ(fs::path(old), folder / L"again_0.avi");
    // The recording graph stays built until the next preview.
    ASSERT_EQ(CountFilters(CLSID_AviDest), 1);
    const std::string oldBytes = testsupport::FileBytes(old);
    ASSERT_FALSE(oldBytes.empty());

    ASSERT_TRUE(Record(1000));
    EXPECT_EQ(fs::path(cap->CaptureFileName()), folder / L"again_1.avi");
    EXPECT_EQ(testsupport::FileBytes(old), oldBytes);
    EXPECT_TRUE(ProbeMedia(old).ran);
    EXPECT_TRUE(ProbeMedia(cap->CaptureFileName()).ran);
}

// A compressed camera's preview and recording graphs join through decoders the control puts
// in first, so rebuilding them searches no registered filters: under Wine each search leaves
// registry keys open, some 100 for every recording and the preview after it.
TEST_F(RecordingTest, RecordingsOfACompressedCameraBackToBackKeepNoRegistryKey) {
    config.Remove(vcam::kValueSubtype);  // the default camera: MJPG
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"keys_.wmv");
    const auto recordThenPreview = [&] {
        ASSERT_TRUE(cap->StartCapture());
        EXPECT_TRUE(WaitFrames(frames.load() + 3));
        EXPECT_TRUE(cap->StopCapture());
        ASSERT_TRUE(cap->StartPreview());
        EXPECT_TRUE(WaitFrames(frames.load() + 1));
    };
    recordThenPreview();
    const bench::HandleCensus before = bench::CountHandles();
    ASSERT_TRUE(before.Ok);
    for (int i = 0; i < 3; ++i) recordThenPreview();
    const bench::HandleCensus after = bench::CountHandles();
    EXPECT_LE(after.Keys, before.Keys + 5) << before.Text() << " / " << after.Text();
    EXPECT_TRUE(Errors().empty());
}

TEST_F(RecordingTest, WithoutPreviewTheCameraFeedsTheFileDirectly) {
    ASSERT_TRUE(Ready());
    cap->WantPreview = false;
    cap->VideoFileName = Template(L"nopreview_.avi");
    ASSERT_TRUE(Record(1200));
    const MediaProbe p = ProbeMedia(cap->CaptureFileName());
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    EXPECT_GT(p.AudioInt("nb_read_packets"), 0);
}

TEST_F(RecordingTest, WithoutAMicrophoneAWmvFileGetsVideoAndASilentSoundTrack) {
    ASSERT_TRUE(SelectCamera(false));
    cap->SetVideoFormat(320, 240, 15.0, 24);
    cap->VideoFileName = Template(L"video_kv_.wmv");
    ASSERT_TRUE(Record(2000));
    EXPECT_EQ(Errors(), std::vector<int>{});
    EXPECT_EQ(ReadRecord(L"Input1Type"), L"{73647561-0000-0010-8000-00AA00389B71}");  // audio
    const MediaProbe p = ProbeMedia(cap->CaptureFileName());
    ASSERT_TRUE(p.ran);
    EXPECT_EQ(p.VideoInt("width"), 320);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    EXPECT_EQ(p.AudioInt("sample_rate"), 44100);
    EXPECT_EQ(p.AudioInt("channels"), 1);
    EXPECT_EQ(p.audio.at("sample_fmt"), "s16");
    EXPECT_NEAR(p.AudioSeconds(), p.VideoDouble("duration"), 1.0);
}

TEST_F(RecordingTest, ANameReservedByAStartThatFailedIsFreed) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"video_kv_.wmv");
    // A start whose graph cannot be wired fails before any file is written, and its
    // reservation goes. (The camera's output is taken here, so the recording cannot have it.)
    cap->WantPreview = false;
    ComPtr<IBaseFilter> taker;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_PPV_ARGS(&taker)));
    FILTER_INFO info{};
    ASSERT_HRESULT_SUCCEEDED(ControlProbe::VideoCaptureFilter(*cap)->QueryFilterInfo(&info));
    ComPtr<IFilterGraph> graph;
    graph.Attach(info.pGraph);
    ASSERT_TRUE(graph);
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(taker.Get(), L"Taker"));
    ComPtr<IPin> cameraOut = FirstPin(ControlProbe::VideoCaptureFilter(*cap), PINDIR_OUTPUT);
    ComPtr<IPin> takerIn = FirstPin(taker.Get(), PINDIR_INPUT);
    ASSERT_HRESULT_SUCCEEDED(graph->ConnectDirect(cameraOut.Get(), takerIn.Get(), nullptr));
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_EQ(Errors(), std::vector<int>{ErrRenderCapture});
    EXPECT_TRUE(fs::is_empty(folder));

    // The failed start took the graph back to the devices (the taker went with the rest);
    // the freed number is the next recording's.
    EXPECT_EQ(CountFilters(CLSID_NullRenderer), 0);
    EXPECT_TRUE(Record(500));
    EXPECT_EQ(fs::path(cap->CaptureFileName()), folder / L"video_kv_0.wmv");
}

// A camera that refuses to run fails the start after the writer has opened its file: no
// header-only file is left under the reserved name.
TEST_F(RecordingTest, AStartTheCameraRefusesLeavesNoFile) {
    config.SetDword(vcam::kValueFailRun, 1);
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"video_kv_.wmv");
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_EQ(Errors(), std::vector<int>{ErrRunCapture});
    EXPECT_FALSE(cap->Capturing());
    EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
}

// Graphs that lack a part of the recording: without a renderer behind its video window
// the recording goes on without a picture (code 12); without media control it cannot
// start (code 22) and leaves no file.
TEST_F(RecordingTest, AGraphWithoutARendererOrMediaControlIsReported) {
    cap->VideoFileName = Template(L"video_kv_.wmv");
    {
        testsupport::GraphLacking graph(L"NoVideoRenderer");
        ASSERT_TRUE(Ready());
        ClearEvents();
        ASSERT_TRUE(cap->StartCapture());
        EXPECT_EQ(Errors(), std::vector<int>{ErrCaptureVideoWindow});
        EXPECT_TRUE(WaitFrames(frames.load() + 5));
        EXPECT_TRUE(cap->StopCapture());
        EXPECT_TRUE(ProbeMedia(cap->CaptureFileName()).ran);
    }
    testsupport::GraphLacking graph(L"NoMediaControl");
    ASSERT_TRUE(Ready());
    ClearEvents();
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_EQ(Errors(), std::vector<int>{ErrNoMediaControl});
    EXPECT_FALSE(cap->Capturing());
    EXPECT_EQ(dir.Names(), std::vector<std::wstring>{L"video_kv_0.wmv"});
}

// A writer that will not take the profile cannot be set up: the start ends with that code
// before anything runs, and leaves no file.
TEST_F(RecordingTest, AWriterThatRefusesTheProfileEndsTheStart) {
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"video_kv_.wmv");
    {
        testsupport::AsfProfilesMissing missing;
        EXPECT_FALSE(cap->StartCapture());
    }
    EXPECT_EQ(Errors(), std::vector<int>{ErrSetOutputFile});
    EXPECT_FALSE(cap->Capturing());
    EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
    EXPECT_TRUE(cap->StartPreview());
}

// A recording folder that cannot be made (a file stands where it would be): the start
// ends with code 1 before anything runs, and the control can preview again.
TEST_F(RecordingTest, AFolderThatCannotBeMadeEndsTheStartWithCodeOne) {
    ASSERT_TRUE(Ready());
    dir.Touch(L"taken");
    cap->VideoFileName = Template(L"taken\\video_kv_.wmv");
    ClearEvents();
    EXPECT_FALSE(cap->StartCapture());
    EXPECT_EQ(Errors(), std::vector<int>{ErrSetOutputFile});
    EXPECT_FALSE(cap->Capturing());
    EXPECT_EQ(dir.Names(), std::vector<std::wstring>{L"taken"});
    EXPECT_TRUE(cap->StartPreview());
}

// Names past MAX_PATH reach the writers in the form they open (the doubles refuse a plain
// one, as Windows does), and the files are written whole.
TEST_F(RecordingTest, RecordingsIntoAFolderPastMaxPathAreWritten) {
    ASSERT_TRUE(Ready());
    const std::wstring deep =
        dir.MakeFolder(std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e')) + L"\\";
    for (const wchar_t* name : {L"video_kv_.wmv", L"clip_.avi"}) {
        SCOPED_TRACE(Narrow(name));
        cap->VideoFileName = deep + name;
        ASSERT_TRUE(Record(1500));
        const std::wstring file = cap->CaptureFileName();
        EXPECT_GE(file.size(), static_cast<size_t>(MAX_PATH));
        const MediaProbe p = ProbeMedia(file);
        ASSERT_TRUE(p.ran);
        EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    }
}

// The writer double is as strict as the documented writer: only the profile it knows, no
// pause with an input open or with a plain name past MAX_PATH, no sample without a time
// stamp.
TEST_F(RecordingTest, TheWriterDoubleRefusesAnOpenInputAndUntimedSamples) {
    ComPtr<IBaseFilter> writer, camera;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_PPV_ARGS(&writer)));
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(vcam::CLSID_OrvixTestCamera, nullptr,
                                                CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&camera)));
    ComPtr<IFileSinkFilter> sink;
    ASSERT_HRESULT_SUCCEEDED(writer.As(&sink));
    fs::create_directories(folder);
    // Only the system profile whose inputs it has.
    ComPtr<IConfigAsfWriter> profile;
    ASSERT_HRESULT_SUCCEEDED(writer.As(&profile));
    EXPECT_EQ(profile->ConfigureFilterUsingProfileGuid(GUID_NULL), E_FAIL);
    EXPECT_EQ(profile->ConfigureFilterUsingProfileGuid(WMProfile_V80_HIGHVBRVideo), S_OK);
    ASSERT_HRESULT_SUCCEEDED(sink->SetFileName((folder / L"strict.wmv").c_str(), nullptr));
    ComPtr<IEnumPins> pins = PinsOf(writer.Get());
    ComPtr<IPin> audioIn = FindPinByDirection(pins.Get(), PINDIR_INPUT);
    ComPtr<IPin> videoIn = NextPinAfter(pins.Get(), audioIn.Get());
    ASSERT_HRESULT_SUCCEEDED(
        FirstPin(camera.Get(), PINDIR_OUTPUT)->Connect(videoIn.Get(), nullptr));
    EXPECT_EQ(writer->Pause(), VFW_E_NOT_CONNECTED);

    ComPtr<IBaseFilter> silence = CreateSilentAudioSource();
    ASSERT_HRESULT_SUCCEEDED(
        FirstPin(silence.Get(), PINDIR_OUTPUT)->Connect(audioIn.Get(), nullptr));
    // A plain name past MAX_PATH cannot be opened; its "\\?\" form can.
    const std::wstring deep =
        dir.MakeFolder(std::wstring(130, L'd') + L"\\" + std::wstring(130, L'e')) + L"\\x.wmv";
    ASSERT_HRESULT_SUCCEEDED(sink->SetFileName(deep.c_str(), nullptr));
    EXPECT_EQ(writer->Pause(), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    ASSERT_HRESULT_SUCCEEDED(sink->SetFileName(ExtendedPath(deep).c_str(), nullptr));
    ASSERT_HRESULT_SUCCEEDED(writer->Pause());
    writer->Stop();
    ASSERT_HRESULT_SUCCEEDED(sink->SetFileName((folder / L"strict.wmv").c_str(), nullptr));
    ASSERT_HRESULT_SUCCEEDED(writer->Pause());
    ComPtr<IMemAllocator> allocator;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr,
                                                CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&allocator)));
    ALLOCATOR_PROPERTIES want{1, 8820, 1, 0}, got{};
    ASSERT_HRESULT_SUCCEEDED(allocator->SetProperties(&want, &got));
    ASSERT_HRESULT_SUCCEEDED(allocator->Commit());
    ComPtr<IMediaSample> sample;
    ASSERT_HRESULT_SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    sample->SetActualDataLength(8820);
    ComPtr<IMemInputPin> input;
    ASSERT_HRESULT_SUCCEEDED(audioIn.As(&input));
    EXPECT_EQ(input->Receive(sample.Get()), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME start = 0, stop = 1000000;
    sample->SetTime(&start, &stop);
    EXPECT_EQ(input->Receive(sample.Get()), S_OK);
    sample.Reset();
    allocator->Decommit();
    writer->Stop();
    // Joined pins hold each other's filters: part them so that all four go.
    for (IPin* in : {audioIn.Get(), videoIn.Get()}) {
        ComPtr<IPin> out;
        if (SUCCEEDED(in->ConnectedTo(&out))) out->Disconnect();
        in->Disconnect();
    }
}

TEST_F(RecordingTest, ALostCameraEndsTheRecordingWithAReadableFile) {
    config.SetDword(vcam::kValueLoseAfterMs, 1500);
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"lost_.wmv");
    ASSERT_TRUE(cap->StartCapture());
    ClearEvents();
    ASSERT_TRUE(PumpUntil([&] { return !cap->Capturing(); }, 8000));
    // The loss is reported from the graph's posted event: wait for it, not a fixed time.
    PumpUntil(
        [&] {
            const std::vector<std::string> e = Events();
            return std::find(e.begin(), e.end(), "Error26") != e.end();
        },
        8000);
    const std::vector<std::string> events = Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "StopCapture");
    EXPECT_NE(std::find(events.begin(), events.end(), "Error26"), events.end());
    const MediaProbe p = ProbeMedia(cap->CaptureFileName());
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
    EXPECT_GT(p.AudioSeconds(), 0.5);
}

// A streaming error of the camera's driver ends the recording as a loss does, and is said.
TEST_F(RecordingTest, AGraphErrorEndsTheRecordingWithAReadableFileAndIsReported) {
    config.SetDword(vcam::kValueAbortAfterMs, 1500);
    ASSERT_TRUE(Ready());
    cap->VideoFileName = Template(L"abort_.wmv");
    ASSERT_TRUE(cap->StartCapture());
    ClearEvents();
    ASSERT_TRUE(PumpUntil([&] { return !cap->Capturing(); }, 8000));
    const std::vector<std::string> events = Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "StopCapture");
    EXPECT_NE(std::find(events.begin(), events.end(), "Error27"), events.end());
    const MediaProbe p = ProbeMedia(cap->CaptureFileName());
    ASSERT_TRUE(p.ran);
    EXPECT_GT(p.VideoInt("nb_read_packets"), 5);
}

}  // namespace
