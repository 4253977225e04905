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
    if (Guard_.Busy() || Destroying()) return;
    auto alive = AliveToken();
    while (auto choice = Guard_.TakeDeferred()) {
        if (choice->Compressors)
            ChooseCompressors(choice->Video.Get(), choice->Audio.Get());
        else
            ChooseDevices(choice->Video.Get(), choice->Audio.Get());
        if (alive.expired()) return;
    }
    if (Guard_.TakeGraphEvents() && HandleAllocated())
        ::PostMessageW(Handle(), WM_GRAPHNOTIFY, 0, 0);
}

TGDirectCapPin2::TGDirectCapPin2(fw::Component* Owner) : WinControl(Owner) {
    SavedFpuControlWord_ = ReadFpuControlWord();
    WriteFpuControlWord(kCaptureFpuControlWord);
    SetColor(fw::clBlack);
    SetBounds(0, 0, 160, 120);
    VideoCB_ = std::make_unique<TSampleGrabberCB>();
    AudioCB_ = std::make_unique<TSampleGrabberCB>();
    CaptureTimer_ = new fw::Timer(this);
    CaptureTimer_->SetEnabled(false);
    CaptureTimer_->SetInterval(100);
    CaptureTimer_->OnTimer = [this] { CaptureTimerTick(); };
    ++g_liveControls;
    ReleaseDevices();
    CreateGraph();
}

TGDirectCapPin2::~TGDirectCapPin2() {
    // The owner may be half gone already: no events from here on.
    MarkDestroying();
    VideoCB_->SetEnabled(false);
    AudioCB_->SetEnabled(false);
    StopPreview();
    StopCapture();
    Guard_.Clear();
    ReleaseDevices();
    if (--g_liveControls == 0) ReleaseDeviceLists();
    CaptureTimer_ = nullptr;  // freed with the owned components
    WriteFpuControlWord(SavedFpuControlWord_);
}

// ---------------------------------------------------------------------------
// Properties

void TGDirectCapPin2::SetVideoFrameRate(double Rate) {
    Requested_.VideoFrameRate = Rate > 30.0 ? 30.0 : Rate;
    Requested_.VideoChanged = true;
}

void TGDirectCapPin2::SetVideoBitCount(int Bits) {
    switch (Bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            Requested_.VideoBitCount = Bits;
            break;
        default:
            Requested_.VideoBitCount = 24;
    }
    Requested_.VideoChanged = true;
}

void TGDirectCapPin2::SetCapTimeLimit(uint32_t Seconds) {
    CapTimeLimit_ = std::min(Seconds, MaxCapTimeLimit);
}

void TGDirectCapPin2::SetOnVideoPreview(TFProcessBuffer Handler) {
    VideoCB_->SetOnBuffer(std::move(Handler));
}

void TGDirectCapPin2::SetOnAudioPreview(TFProcessBuffer Handler) {
    AudioCB_->SetOnBuffer(std::move(Handler));
}

// ---------------------------------------------------------------------------
// Devices

std::vector<std::string> TGDirectCapPin2::DeviceNames(const TCapDeviceList& List, bool Refresh) {
    // One enumeration fills both lists.
    if (Refresh || List.empty()) {
        PumpScope pumping(Guard_);
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

IMoniker* MonikerAt(const TCapDeviceList& list, int index) {
    if (index < 0 || static_cast<size_t>(index) >= list.size()) return nullptr;
    return list[static_cast<size_t>(index)]->Moniker.Get();
}

}  // namespace

void TGDirectCapPin2::SelectDevices(int VideoIndex, int AudioIndex) {
    // Held here: the choice refreshes the lists, which drops their own references.
    ComPtr<IMoniker> video = MonikerAt(VideoDeviceList(), VideoIndex);
    ComPtr<IMoniker> audio = MonikerAt(AudioDeviceList(), AudioIndex);
    ChooseDevices(video.Get(), audio.Get());
}

void TGDirectCapPin2::SelectCompressors(int VideoIndex, int AudioIndex) {
    ComPtr<IMoniker> video = MonikerAt(VideoCompressorList(), VideoIndex);
    ComPtr<IMoniker> audio = MonikerAt(AudioCompressorList(), AudioIndex);
    ChooseCompressors(video.Get(), audio.Get());
}

void TGDirectCapPin2::ChooseDevices(IMoniker* VideoMoniker, IMoniker* AudioMoniker) {
    if (Guard_.DeferWhilePumping({false, VideoMoniker, AudioMoniker})) return;
    Operation operation(Guard_);
    VideoMoniker_ = VideoMoniker;
    AudioMoniker_ = AudioMoniker;
    AudioWanted_ = AudioMoniker != nullptr;
    CloseDevices();
    if (!VideoMoniker_ && !AudioMoniker_) {
        // Nothing open: no dialogs and no frame sizes to offer.
        Options_.Clear();
        VideoSizes_.clear();
        return;
    }
    CreateGraph();
    OpenDevices();
    BuildDeviceOptions();
    CollectVideoSizes();
    Raise(OnChangeDevice);
}

void TGDirectCapPin2::ChooseCompressors(IMoniker* VideoMoniker, IMoniker* AudioMoniker) {
    if (Guard_.DeferWhilePumping({true, VideoMoniker, AudioMoniker})) return;
    Operation operation(Guard_);
    VideoCompressorMoniker_ = VideoMoniker;
    AudioCompressorMoniker_ = AudioMoniker;
    if (!VideoMoniker && !AudioMoniker) return;
    AudioWanted_ = AudioMoniker_ != nullptr;
    CloseDevices();
    CreateGraph();
    OpenDevices();
}

void TGDirectCapPin2::CloseDevices() {
    StopCapture();
    StopPreview();
    if (State_ != TGraphState::None) TearDownGraph();
    ReleaseDevices();
}

bool TGDirectCapPin2::CreateGraph() {
    if (!Graph_.Graph && FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_PPV_ARGS(&Graph_.Graph))))
        return false;
    if (!Graph_.Builder && FAILED(MakeCaptureGraphBuilder(Graph_.Graph.Get(), Graph_.Builder)))
        return false;
    {
        PumpScope pumping(Guard_);
        RefreshDeviceLists();
        RefreshCompressorLists();
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
        if (device && device->Moniker && VideoMoniker_ &&
            device->Moniker->IsEqual(VideoMoniker_.Get()) == S_OK)
            return AnsiToWide(device->Name);
    return {};
}

bool TGDirectCapPin2::OpenVideoDevice() {
    TOpenDevices& d = Devices_;
    d.Video.Reset();
    const HRESULT bound =
        VideoMoniker_ ? VideoMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.Video))
                      : E_POINTER;
    if (!d.Video) {
        FiltersReady_ = false;
        Fail(ErrOpenVideoDevice, "IMoniker::BindToObject", FAILED(bound) ? bound : E_FAIL);
        return false;
    }
    const HRESULT added =
        Graph_.Graph ? Graph_.Graph->AddFilter(d.Video.Get(), nullptr) : E_POINTER;
    if (FAILED(added)) {
        FiltersReady_ = false;
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
    TOpenDevices& d = Devices_;
    d.VideoCompressor.Reset();
    d.CompressDialogs.Reset();
    if (SUCCEEDED(VideoCompressorMoniker_->BindToObject(nullptr, nullptr,
                                                        IID_PPV_ARGS(&d.VideoCompressor))))
        Graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                      d.VideoCompressor.Get(), IID_IAMVfwCompressDialogs,
                                      reinterpret_cast<void**>(d.CompressDialogs.GetAddressOf()));
}

void TGDirectCapPin2::OpenAudioDevice() {
    TOpenDevices& d = Devices_;
    d.Audio.Reset();
    const HRESULT bound = AudioMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.Audio));
    if (!d.Audio) {
        AudioWanted_ = false;
        Fail(ErrOpenAudioDevice, "IMoniker::BindToObject of the microphone",
             FAILED(bound) ? bound : E_FAIL);
        return;
    }
    const HRESULT added =
        Graph_.Graph ? Graph_.Graph->AddFilter(d.Audio.Get(), nullptr) : E_POINTER;
    if (FAILED(added)) Fail(ErrAddAudioFilter, "IFilterGraph::AddFilter of the microphone", added);
    if (AudioCompressorMoniker_) {
        d.AudioCompressor.Reset();
        AudioCompressorMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&d.AudioCompressor));
    }
    d.AudioConfig.Reset();
    const HRESULT config = Graph_.Builder->FindInterface(
        &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, d.Audio.Get(), IID_IAMStreamConfig,
        reinterpret_cast<void**>(d.AudioConfig.GetAddressOf()));
    if (FAILED(config)) Fail(ErrAudioStreamConfig, "IAMStreamConfig of the microphone", config);
}

bool TGDirectCapPin2::OpenDevices() {
    if (!Graph_.Builder) {
        const HRESULT made = MakeCaptureGraphBuilder(Graph_.Graph.Get(), Graph_.Builder);
        if (FAILED(made)) {
            Fail(ErrCreateBuilder, "the capture graph builder (CoCreateInstance)", made);
            return false;
        }
    }
    TOpenDevices& d = Devices_;
    try {
        if (!OpenVideoDevice()) return false;
        AudioUsable_ = true;
        d.CaptureDialogs.Reset();
        Graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, d.Video.Get(),
                                      IID_IAMVfwCaptureDialogs,
                                      reinterpret_cast<void**>(d.CaptureDialogs.GetAddressOf()));
        if (VideoCompressorMoniker_) OpenVideoCompressor();
        if (!AudioMoniker_)
            AudioWanted_ = false;
        else
            OpenAudioDevice();
        d.Sensor = std::make_unique<TVMFilter>(d.Video.Get());
        return true;
    } catch (...) {
        Log("capture", "the devices could not be opened: out of memory");
        Graph_.Release();
        Devices_.Release();
        State_ = TGraphState::None;
        return false;
    }
}

void TGDirectCapPin2::ReleaseDevices() {
    // The chain first: the renderer's window is our child and goes back before the graph.
    Graph_.Release();
    Devices_.Release();
    AudioUsable_ = true;
    FiltersReady_ = true;
    State_ = TGraphState::None;
    MasterStream_ = -1;
}

ComPtr<IUnknown> TGDirectCapPin2::FindCaptureInterface(const GUID& Category, REFIID Iid) {
    ComPtr<IUnknown> found;
    ICaptureGraphBuilder2* const builder = Graph_.Builder.Get();
    IBaseFilter* const video = Devices_.Video.Get();
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
    if (!Graph_.Graph || FAILED(Graph_.Graph->EnumFilters(&e))) return filters;
    ComPtr<IBaseFilter> f;
    while (e->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (f) filters.push_back(f);
    }
    return filters;
}
