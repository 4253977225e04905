// The capture control: construction, properties, and the device choice and opening.
#include "capture/GDirectCapPin2.h"

#include "capture/GraphDecisions.h"
#include "common/u_Log.h"
#include "common/u_PathUtil.h"

#include "framework/Application.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace {

// All x87 exceptions masked, extended precision, round to nearest: drivers and filters
// that divide by zero inside the process do not fault the program.
constexpr uint16_t kCaptureFpuControlWord = 0x133F;

// Capture controls alive: the process-wide device lists hold COM objects, and the last
// control lets go of them while COM is still up on its thread.
int g_liveControls = 0;

}  // namespace

void TGDirectCapPin2::RunDeferred() {
    if (guard_.Busy() || Destroying()) return;
    auto alive = AliveToken();
    while (auto choice = guard_.TakeDeferred()) {
        if (choice->Compressors)
            ChooseCompressors(choice->Video.Get(), choice->Audio.Get());
        else
            ChooseDevices(choice->Video.Get(), choice->Audio.Get());
        if (alive.expired()) return;
    }
    if (guard_.TakeGraphEvents() && HandleAllocated())
        ::PostMessageW(Handle(), WM_GRAPHNOTIFY, 0, 0);
}

TGDirectCapPin2::TGDirectCapPin2(fw::Component* Owner) : WinControl(Owner) {
    savedFpuControlWord_ = ReadFpuControlWord();
    WriteFpuControlWord(kCaptureFpuControlWord);
    SetColor(fw::clBlack);
    SetBounds(0, 0, 160, 120);
    videoCB_ = std::make_unique<TSampleGrabberCB>();
    audioCB_ = std::make_unique<TSampleGrabberCB>();
    captureTimer_ = new fw::Timer(this);
    captureTimer_->SetEnabled(false);
    captureTimer_->SetInterval(100);
    captureTimer_->OnTimer = [this] { CaptureTimerTick(); };
    ++g_liveControls;
    ReleaseDevices();
    CreateGraph();
}

TGDirectCapPin2::~TGDirectCapPin2() {
    // The owner may be half gone already: no events from here on.
    MarkDestroying();
    videoCB_->SetEnabled(false);
    audioCB_->SetEnabled(false);
    StopPreview();
    StopCapture();
    guard_.Clear();
    ReleaseDevices();
    if (--g_liveControls == 0) ReleaseDeviceLists();
    captureTimer_ = nullptr;  // freed with the owned components
    WriteFpuControlWord(savedFpuControlWord_);
}

// ---------------------------------------------------------------------------
// Properties

void TGDirectCapPin2::SetVideoFrameRate(double Rate) {
    requested_.VideoFrameRate = Rate > 30.0 ? 30.0 : Rate;
    requested_.VideoChanged = true;
}

void TGDirectCapPin2::SetVideoBitCount(int Bits) {
    switch (Bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            requested_.VideoBitCount = Bits;
            break;
        default:
            requested_.VideoBitCount = 24;
    }
    requested_.VideoChanged = true;
}

void TGDirectCapPin2::SetCapTimeLimit(uint32_t Seconds) {
    capTimeLimit_ = std::min(Seconds, MaxCapTimeLimit);
}

void TGDirectCapPin2::SetOnVideoPreview(TFProcessBuffer Handler) {
    videoCB_->SetOnBuffer(std::move(Handler));
}

void TGDirectCapPin2::SetOnAudioPreview(TFProcessBuffer Handler) {
    audioCB_->SetOnBuffer(std::move(Handler));
}

// ---------------------------------------------------------------------------
// Devices

std::vector<std::string> TGDirectCapPin2::DeviceNames(const TCapDeviceList& List, bool Refresh) {
    // One enumeration fills both lists.
    if (Refresh || List.empty()) {
        TPumpScope pumping(guard_);
        RefreshDeviceLists();
    }
    std::vector<std::string> names;
    for (const auto& d : List) names.push_back(d->Name);
    return names;
}

std::vector<std::string> TGDirectCapPin2::VideoDeviceNames(bool Refresh) {
    return DeviceNames(VideoDeviceList(), Refresh);
}

std::vector<std::string> TGDirectCapPin2::AudioDeviceNames(bool Refresh) {
    return DeviceNames(AudioDeviceList(), Refresh);
}

namespace {

IMoniker* MonikerAt(const TCapDeviceList& List, int Index) {
    if (Index < 0 || static_cast<size_t>(Index) >= List.size()) return nullptr;
    return List[static_cast<size_t>(Index)]->Moniker.Get();
}

}  // namespace

void TGDirectCapPin2::SelectDevices(int VideoIndex, int AudioIndex) {
    // Held here: the choice refreshes the lists, which drops their own references.
    ComPtr<IMoniker> video = MonikerAt(VideoDeviceList(), VideoIndex);
    ComPtr<IMoniker> audio = MonikerAt(AudioDeviceList(), AudioIndex);
    ChooseDevices(video.Get(), audio.Get());
}

void TGDirectCapPin2::SelectCompressors(int VideoIndex, int AudioIndex) {
    // A negative index picks nothing whatever the lists hold.
    if (VideoIndex >= 0 || AudioIndex >= 0) {
        TPumpScope pumping(guard_);
        RefreshOutdatedCompressorLists();
    }
    ComPtr<IMoniker> video = MonikerAt(VideoCompressorList(), VideoIndex);
    ComPtr<IMoniker> audio = MonikerAt(AudioCompressorList(), AudioIndex);
    ChooseCompressors(video.Get(), audio.Get());
}

void TGDirectCapPin2::ChooseDevices(IMoniker* VideoMoniker, IMoniker* AudioMoniker) {
    if (guard_.DeferWhilePumping({false, VideoMoniker, AudioMoniker})) return;
    TOperation operation(guard_);
    videoMoniker_ = VideoMoniker;
    audioMoniker_ = AudioMoniker;
    audioWanted_ = AudioMoniker != nullptr;
    CloseDevices();
    if (!videoMoniker_ && !audioMoniker_) {
        // Nothing open: no dialogs and no frame sizes to offer.
        options_.Clear();
        videoSizes_.clear();
        return;
    }
    CreateGraph();
    OpenDevices();
    BuildDeviceOptions();
    CollectVideoSizes();
    Raise(OnChangeDevice);
}

void TGDirectCapPin2::ChooseCompressors(IMoniker* VideoMoniker, IMoniker* AudioMoniker) {
    if (guard_.DeferWhilePumping({true, VideoMoniker, AudioMoniker})) return;
    TOperation operation(guard_);
    videoCompressorMoniker_ = VideoMoniker;
    audioCompressorMoniker_ = AudioMoniker;
    if (!VideoMoniker && !AudioMoniker) return;
    audioWanted_ = audioMoniker_ != nullptr;
    CloseDevices();
    CreateGraph();
    OpenDevices();
}

void TGDirectCapPin2::CloseDevices() {
    StopCapture();
    StopPreview();
    if (state_ != TGraphState::None) TearDownGraph();
    ReleaseDevices();
}

bool TGDirectCapPin2::CreateGraph() {
    if (!graph_.Graph && FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_PPV_ARGS(&graph_.Graph))))
        return false;
    if (!graph_.Builder && FAILED(MakeCaptureGraphBuilder(graph_.Graph.Get(), graph_.Builder)))
        return false;
    {
        TPumpScope pumping(guard_);
        RefreshDeviceLists();
        MarkCompressorListsOutdated();
    }
    return !VideoDeviceList().empty() || !AudioDeviceList().empty();
}

void TGDirectCapPin2::Fail(int Code, std::string_view Call, HRESULT Result,
                           std::wstring_view Subject) {
    LogFailure("capture, code " + std::to_string(Code), Call, Result,
               Subject.empty() ? std::wstring_view(CameraLabel()) : Subject);
    Error(Code);
}

std::wstring TGDirectCapPin2::CameraLabel() const {
    for (const auto& device : VideoDeviceList())
        if (device && device->Moniker && videoMoniker_ &&
            device->Moniker->IsEqual(videoMoniker_.Get()) == S_OK)
            return AnsiToWide(device->Name);
    return {};
}

bool TGDirectCapPin2::OpenVideoDevice() {
    TOpenDevices& d = devices_;
    d.Video.Reset();
    const HRESULT bound =
        videoMoniker_ ? videoMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.Video))
                      : E_POINTER;
    if (!d.Video) {
        filtersReady_ = false;
        Fail(ErrOpenVideoDevice, "IMoniker::BindToObject", FAILED(bound) ? bound : E_FAIL);
        return false;
    }
    const HRESULT added =
        graph_.Graph ? graph_.Graph->AddFilter(d.Video.Get(), nullptr) : E_POINTER;
    if (FAILED(added)) {
        filtersReady_ = false;
        Fail(ErrAddVideoFilter, "IFilterGraph::AddFilter", added);
    }
    ComPtr<IUnknown> found = FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMVideoCompression);
    d.VideoCompression.Reset();
    if (found) found.As(&d.VideoCompression);
    found = FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig);
    d.VideoConfig.Reset();
    if (found) found.As(&d.VideoConfig);
    if (!d.VideoConfig)
        Fail(ErrVideoStreamConfig, "IAMStreamConfig of the capture pin", E_NOINTERFACE);
    return true;
}

void TGDirectCapPin2::OpenVideoCompressor() {
    TOpenDevices& d = devices_;
    d.VideoCompressor.Reset();
    d.CompressDialogs.Reset();
    if (SUCCEEDED(videoCompressorMoniker_->BindToObject(nullptr, nullptr,
                                                        IID_PPV_ARGS(&d.VideoCompressor))))
        graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                      d.VideoCompressor.Get(), IID_IAMVfwCompressDialogs,
                                      reinterpret_cast<void**>(d.CompressDialogs.GetAddressOf()));
}

void TGDirectCapPin2::OpenAudioDevice() {
    TOpenDevices& d = devices_;
    d.Audio.Reset();
    const HRESULT bound = audioMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.Audio));
    if (!d.Audio) {
        audioWanted_ = false;
        Fail(ErrOpenAudioDevice, "IMoniker::BindToObject of the microphone",
             FAILED(bound) ? bound : E_FAIL);
        return;
    }
    const HRESULT added =
        graph_.Graph ? graph_.Graph->AddFilter(d.Audio.Get(), nullptr) : E_POINTER;
    if (FAILED(added)) Fail(ErrAddAudioFilter, "IFilterGraph::AddFilter of the microphone", added);
    if (audioCompressorMoniker_) {
        d.AudioCompressor.Reset();
        audioCompressorMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.AudioCompressor));
    }
    d.AudioConfig.Reset();
    const HRESULT config = graph_.Builder->FindInterface(
        &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, d.Audio.Get(), IID_IAMStreamConfig,
        reinterpret_cast<void**>(d.AudioConfig.GetAddressOf()));
    if (FAILED(config)) Fail(ErrAudioStreamConfig, "IAMStreamConfig of the microphone", config);
}

bool TGDirectCapPin2::OpenDevices() {
    if (!graph_.Builder) {
        const HRESULT made = MakeCaptureGraphBuilder(graph_.Graph.Get(), graph_.Builder);
        if (FAILED(made)) {
            Fail(ErrCreateBuilder, "the capture graph builder (CoCreateInstance)", made);
            return false;
        }
    }
    TOpenDevices& d = devices_;
    try {
        if (!OpenVideoDevice()) return false;
        audioUsable_ = true;
        d.CaptureDialogs.Reset();
        graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, d.Video.Get(),
                                      IID_IAMVfwCaptureDialogs,
                                      reinterpret_cast<void**>(d.CaptureDialogs.GetAddressOf()));
        if (videoCompressorMoniker_) OpenVideoCompressor();
        if (!audioMoniker_)
            audioWanted_ = false;
        else
            OpenAudioDevice();
        d.Sensor = std::make_unique<TVMFilter>(d.Video.Get());
        return true;
    } catch (...) {
        Log("capture", "the devices could not be opened: out of memory");
        graph_.Release();
        devices_.Release();
        state_ = TGraphState::None;
        return false;
    }
}

void TGDirectCapPin2::ReleaseDevices() {
    // The chain first: the renderer's window is our child and goes back before the graph.
    graph_.Release();
    devices_.Release();
    audioUsable_ = true;
    filtersReady_ = true;
    state_ = TGraphState::None;
    masterStream_ = -1;
}

ComPtr<IUnknown> TGDirectCapPin2::FindCaptureInterface(const GUID& Category, REFIID Iid) {
    ComPtr<IUnknown> found;
    ICaptureGraphBuilder2* const builder = graph_.Builder.Get();
    IBaseFilter* const video = devices_.Video.Get();
    if (!builder || !video) return found;
    if (FAILED(builder->FindInterface(&Category, &MEDIATYPE_Interleaved, video, Iid,
                                      reinterpret_cast<void**>(found.GetAddressOf()))))
        builder->FindInterface(&Category, &MEDIATYPE_Video, video, Iid,
                               reinterpret_cast<void**>(found.ReleaseAndGetAddressOf()));
    return found;
}

std::vector<ComPtr<IBaseFilter>> TGDirectCapPin2::GraphFilters() const {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    if (!graph_.Graph || FAILED(graph_.Graph->EnumFilters(&e))) return filters;
    ComPtr<IBaseFilter> f;
    while (e->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (f) filters.push_back(f);
    }
    return filters;
}
