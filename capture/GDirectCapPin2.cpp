// The capture control: construction, properties, and the device choice and opening.
#include "capture/GDirectCapPin2.h"

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
    if (Pumping_ > 0 || Operations_ > 0 || Destroying()) return;
    auto alive = AliveToken();
    while (!Deferred_.empty()) {
        DeferredChoice choice = std::move(Deferred_.front());
        Deferred_.erase(Deferred_.begin());
        if (choice.Compressors)
            ChooseCompressors(choice.Video.Get(), choice.Audio.Get());
        else
            ChooseDevices(choice.Video.Get(), choice.Audio.Get());
        if (alive.expired()) return;
    }
    if (GraphEventsDeferred_) {
        GraphEventsDeferred_ = false;
        if (HandleAllocated()) ::PostMessageW(Handle(), WM_GRAPHNOTIFY, 0, 0);
    }
}

TGDirectCapPin2::TGDirectCapPin2(fw::Component* Owner) : WinControl(Owner) {
    SavedFpuControlWord_ = ReadFpuControlWord();
    WriteFpuControlWord(kCaptureFpuControlWord);
    SetColor(fw::clBlack);
    SetBounds(0, 0, 160, 120);
    VideoCB_ = std::make_unique<TSampleGrabberCB>();
    AudioCB_ = std::make_unique<TSampleGrabberCB>();
    Options_ = std::make_unique<TDeviceOptions>(this);
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
    Deferred_.clear();
    ReleaseDevices();
    if (--g_liveControls == 0) ReleaseDeviceLists();
    CaptureTimer_ = nullptr;  // freed with the owned components
    WriteFpuControlWord(SavedFpuControlWord_);
}

void TGDirectCapPin2::Error(int Code) {
    if (OnError && !Destroying()) OnError(Code);
}

void TGDirectCapPin2::Notify(const fw::NotifyEvent& Event) {
    if (Event && !Destroying()) Event();
}

// ---------------------------------------------------------------------------
// Properties

void TGDirectCapPin2::SetVideoFrameRate(double Rate) {
    VideoFrameRate_ = Rate > 30.0 ? 30.0 : Rate;
    VideoFormatChanged_ = true;
}

void TGDirectCapPin2::SetVideoBitCount(int Bits) {
    switch (Bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            VideoBitCount_ = Bits;
            break;
        default:
            VideoBitCount_ = 24;
    }
    VideoFormatChanged_ = true;
}

void TGDirectCapPin2::SetCapTimeLimit(uint32_t Seconds) {
    CapTimeLimit_ = std::min(Seconds, MaxCapTimeLimit);
}

void TGDirectCapPin2::SetOnVideoPreview(TFProcessBuffer Handler) {
    OnVideoPreview_ = std::move(Handler);
    VideoCB_->SetOnBuffer(OnVideoPreview_);
}

void TGDirectCapPin2::SetOnAudioPreview(TFProcessBuffer Handler) {
    OnAudioPreview_ = std::move(Handler);
    AudioCB_->SetOnBuffer(OnAudioPreview_);
}

// ---------------------------------------------------------------------------
// Devices

std::vector<std::string> TGDirectCapPin2::VideoDeviceNames(bool Refresh) {
    if (Refresh || VideoDeviceList().empty()) {
        PumpScope pumping(*this);
        RefreshDeviceLists();
    }
    std::vector<std::string> names;
    for (const auto& d : VideoDeviceList()) names.push_back(d->Name);
    return names;
}

std::vector<std::string> TGDirectCapPin2::AudioDeviceNames(bool Refresh) {
    if (Refresh || AudioDeviceList().empty()) {
        PumpScope pumping(*this);
        RefreshDeviceLists();
    }
    std::vector<std::string> names;
    for (const auto& d : AudioDeviceList()) names.push_back(d->Name);
    return names;
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
    if (Pumping_ > 0) {
        Deferred_.push_back({false, VideoMoniker, AudioMoniker});
        return;
    }
    Operation operation(*this);
    VideoMoniker_ = VideoMoniker;
    AudioMoniker_ = AudioMoniker;
    AudioWanted_ = AudioMoniker != nullptr;
    StopCapture();
    StopPreview();
    if (PreviewGraphBuilt_ || CaptureGraphBuilt_) TearDownGraph();
    ReleaseDevices();
    if (!VideoMoniker_ && !AudioMoniker_) {
        // Nothing open: no dialogs and no frame sizes to offer.
        Options_->Clear();
        VideoSizes_.clear();
        return;
    }
    CreateGraph();
    OpenDevices();
    BuildDeviceOptions();
    CollectVideoSizes();
    Notify(OnChangeDevice);
}

void TGDirectCapPin2::ChooseCompressors(IMoniker* VideoMoniker, IMoniker* AudioMoniker) {
    if (Pumping_ > 0) {
        Deferred_.push_back({true, VideoMoniker, AudioMoniker});
        return;
    }
    Operation operation(*this);
    VideoCompressorMoniker_ = VideoMoniker;
    AudioCompressorMoniker_ = AudioMoniker;
    if (!VideoMoniker && !AudioMoniker) return;
    AudioWanted_ = AudioMoniker_ != nullptr;
    StopCapture();
    StopPreview();
    if (PreviewGraphBuilt_ || CaptureGraphBuilt_) TearDownGraph();
    ReleaseDevices();
    CreateGraph();
    OpenDevices();
}

bool TGDirectCapPin2::CreateGraph() {
    if (!Graph_ && FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_PPV_ARGS(&Graph_))))
        return false;
    if (!Builder_ && FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                                               CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Builder_))))
        return false;
    Builder_->SetFiltergraph(Graph_.Get());
    {
        PumpScope pumping(*this);
        RefreshDeviceLists();
        RefreshCompressorLists();
    }
    return !VideoDeviceList().empty() || !AudioDeviceList().empty();
}

bool TGDirectCapPin2::OpenDevices() {
    if (!Builder_ && FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                                               CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Builder_)))) {
        Error(ErrCreateBuilder);
        return false;
    }
    try {
        VideoFilter_.Reset();
        if (VideoMoniker_)
            VideoMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&VideoFilter_));
        if (!VideoFilter_) {
            FiltersReady_ = false;
            Error(ErrOpenVideoDevice);
            return false;
        }
        if (!Graph_ || FAILED(Graph_->AddFilter(VideoFilter_.Get(), nullptr))) {
            FiltersReady_ = false;
            Error(ErrAddVideoFilter);
        }
        ComPtr<IUnknown> found =
            FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMVideoCompression);
        VideoCompression_.Reset();
        if (found) found.As(&VideoCompression_);
        found = FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig);
        VideoStreamConfig_.Reset();
        if (found) found.As(&VideoStreamConfig_);
        if (!VideoStreamConfig_) Error(ErrVideoStreamConfig);

        AudioUsable_ = true;
        VfwCaptureDialogs_.Reset();
        Builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, VideoFilter_.Get(),
                                IID_IAMVfwCaptureDialogs,
                                reinterpret_cast<void**>(VfwCaptureDialogs_.GetAddressOf()));

        if (VideoCompressorMoniker_) {
            VideoCompressorFilter_.Reset();
            VfwCompressDialogs_.Reset();
            if (SUCCEEDED(VideoCompressorMoniker_->BindToObject(
                    nullptr, nullptr, IID_PPV_ARGS(&VideoCompressorFilter_))))
                Builder_->FindInterface(
                    &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, VideoCompressorFilter_.Get(),
                    IID_IAMVfwCompressDialogs,
                    reinterpret_cast<void**>(VfwCompressDialogs_.GetAddressOf()));
        }

        if (AudioUsable_) {
            if (!AudioMoniker_) {
                AudioWanted_ = false;
            } else {
                AudioFilter_.Reset();
                AudioMoniker_->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&AudioFilter_));
                if (!AudioFilter_) {
                    AudioWanted_ = false;
                    Error(ErrOpenAudioDevice);
                } else {
                    if (!Graph_ || FAILED(Graph_->AddFilter(AudioFilter_.Get(), nullptr)))
                        Error(ErrAddAudioFilter);
                    if (AudioCompressorMoniker_) {
                        AudioCompressorFilter_.Reset();
                        AudioCompressorMoniker_->BindToObject(
                            nullptr, nullptr, IID_PPV_ARGS(&AudioCompressorFilter_));
                    }
                    AudioStreamConfig_.Reset();
                    if (FAILED(Builder_->FindInterface(
                            &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, AudioFilter_.Get(),
                            IID_IAMStreamConfig,
                            reinterpret_cast<void**>(AudioStreamConfig_.GetAddressOf()))))
                        Error(ErrAudioStreamConfig);
                }
            }
        }
        SensorFilter_ = std::make_unique<TVMFilter>(VideoFilter_.Get());
        return true;
    } catch (...) {
        Graph_.Reset();
        Builder_.Reset();
        VideoFilter_.Reset();
        AudioFilter_.Reset();
        VideoCompressorFilter_.Reset();
        AudioCompressorFilter_.Reset();
        VideoStreamConfig_.Reset();
        AudioStreamConfig_.Reset();
        VideoCompression_.Reset();
        VfwCaptureDialogs_.Reset();
        PreviewGrabber_.Reset();
        AudioGrabber_.Reset();
        return false;
    }
}

void TGDirectCapPin2::DetachCallbacks() {
    // The callback object dies with the control, the grabbers possibly later.
    if (PreviewGrabber_) PreviewGrabber_->SetCallback(nullptr, 1);
    if (AudioGrabber_) AudioGrabber_->SetCallback(nullptr, 0);
    PreviewGrabber_.Reset();
    AudioGrabber_.Reset();
}

void TGDirectCapPin2::ReleaseDevices() {
    DetachCallbacks();
    if (MediaEvent_) MediaEvent_->SetNotifyWindow(0, 0, 0);
    if (VideoWindow_) {
        // The renderer's window is our child: hand it back before the graph goes.
        VideoWindow_->put_Visible(OAFALSE);
        VideoWindow_->put_Owner(0);
    }
    SensorFilter_.reset();
    VideoWindow_.Reset();
    MediaEvent_.Reset();
    DroppedFrames_.Reset();
    PreviewGrabber_.Reset();
    AudioGrabber_.Reset();
    Mux_.Reset();
    FileSink_.Reset();
    ConfigAviMux_.Reset();
    ConfigInterleaving_.Reset();
    AsfWriter_.Reset();
    VideoCompression_.Reset();
    VideoStreamConfig_.Reset();
    VfwCaptureDialogs_.Reset();
    VfwCompressDialogs_.Reset();
    AudioStreamConfig_.Reset();
    VideoFilter_.Reset();
    AudioFilter_.Reset();
    VideoCompressorFilter_.Reset();
    AudioCompressorFilter_.Reset();
    Builder_.Reset();
    Graph_.Reset();
    AudioUsable_ = true;
    FiltersReady_ = true;
    PreviewGraphBuilt_ = false;
    CaptureGraphBuilt_ = false;
    Capturing_ = false;
    Previewing_ = false;
    MasterStream_ = -1;
}

ComPtr<IUnknown> TGDirectCapPin2::FindCaptureInterface(const GUID& Category, REFIID Iid) {
    ComPtr<IUnknown> found;
    if (!Builder_ || !VideoFilter_) return found;
    if (FAILED(Builder_->FindInterface(&Category, &MEDIATYPE_Interleaved, VideoFilter_.Get(), Iid,
                                       reinterpret_cast<void**>(found.GetAddressOf()))))
        Builder_->FindInterface(&Category, &MEDIATYPE_Video, VideoFilter_.Get(), Iid,
                                reinterpret_cast<void**>(found.ReleaseAndGetAddressOf()));
    return found;
}
