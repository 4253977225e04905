// The capture control's filter graph: the hand-wired preview chain, the video window
// inside the control, running and stopping, and the graph's events.
#include "capture/GDirectCapPin2.h"

#include "framework/Application.h"

#include <algorithm>
#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<unsigned char>(a)) |
           (static_cast<DWORD>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<DWORD>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<DWORD>(static_cast<unsigned char>(d)) << 24);
}

// Class ids the filter names stand for, for platforms whose capture graph builder names
// the filters it adds "0001", "0002", ... instead of by their friendly names.
struct NamedClass {
    const wchar_t* name;
    const CLSID* clsids[4];
};
const NamedClass kNamedClasses[] = {
    {L"Color Space Converter", {&CLSID_Colour, nullptr, nullptr, nullptr}},
    {L"Video Renderer",
     {&CLSID_VideoRenderer, &CLSID_VideoMixingRenderer, &CLSID_VideoRendererDefault,
      &CLSID_VideoMixingRenderer9}},
    {L"AVI Decompressor", {&CLSID_AVIDec, nullptr, nullptr, nullptr}},
    {L"MJPEG Decompressor", {&CLSID_MjpegDec, nullptr, nullptr, nullptr}},
    {L"Mux", {&CLSID_AviDest, nullptr, nullptr, nullptr}},
    {L"Smart Tee", {&CLSID_SmartTee, nullptr, nullptr, nullptr}},
};

}  // namespace

ComPtr<IBaseFilter> TGDirectCapPin2::CreateFilter(const CLSID& Clsid, const wchar_t* Name) {
    ComPtr<IBaseFilter> filter;
    if (!Graph_) return nullptr;
    if (FAILED(::CoCreateInstance(Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter))))
        return nullptr;
    if (FAILED(Graph_->AddFilter(filter.Get(), Name))) return nullptr;
    return filter;
}

ComPtr<IBaseFilter> TGDirectCapPin2::FindFilterByName(const wchar_t* Name) {
    ComPtr<IBaseFilter> filter;
    if (!Graph_) return nullptr;
    if (SUCCEEDED(Graph_->FindFilterByName(Name, &filter)) && filter) return filter;
    const NamedClass* named = nullptr;
    for (const NamedClass& n : kNamedClasses) {
        if (wcscmp(n.name, Name) == 0) named = &n;
    }
    if (!named) return nullptr;
    ComPtr<IEnumFilters> filters;
    if (FAILED(Graph_->EnumFilters(&filters))) return nullptr;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        CLSID clsid;
        if (!filter || FAILED(filter->GetClassID(&clsid))) continue;
        for (const CLSID* c : named->clsids) {
            if (c && *c == clsid) return filter;
        }
    }
    return nullptr;
}

bool TGDirectCapPin2::RenderPreviewStream() {
    if (!Builder_ || !VideoFilter_) return false;
    HRESULT hr = Builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved,
                                        VideoFilter_.Get(), nullptr, nullptr);
    if (hr != S_OK && hr != VFW_S_NOPREVIEWPIN)
        hr = Builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, VideoFilter_.Get(),
                                    nullptr, nullptr);
    return hr == S_OK || hr == VFW_S_NOPREVIEWPIN;
}

bool TGDirectCapPin2::BuildPreviewGraph() {
    // Asked for from a message that one of the control's own waits dispatched: a build
    // may be half done, and a second one would render the camera twice.
    if (Pumping_ > 0) return false;
    if (Capturing_ || Previewing_) return false;
    if (PreviewGraphBuilt_) return true;
    if (!VideoFilter_ || (AudioWanted_ && !AudioFilter_)) return false;
    Operation operation(*this);
    if (CaptureGraphBuilt_) TearDownGraph();
    if (VideoFormatChanged_) ApplyVideoFormat();
    if (AudioFormatChanged_) ApplyAudioFormat();
    if (!RenderPreviewStream()) {
        Error(ErrRenderPreview);
        return false;
    }
    if (AudioWanted_) {
        if (FAILED(Builder_->RenderStream(nullptr, &MEDIATYPE_Interleaved, AudioFilter_.Get(),
                                          nullptr, nullptr)) &&
            FAILED(Builder_->RenderStream(nullptr, &MEDIATYPE_Audio, AudioFilter_.Get(), nullptr,
                                          nullptr)))
            AudioWanted_ = false;
    }
    WirePreviewPath(true);
    WirePreviewAudio();
    if (!AttachVideoWindow()) Error(ErrPreviewVideoWindow);
    MediaEvent_.Reset();
    if (SUCCEEDED(Graph_->QueryInterface(IID_IMediaEventEx,
                                         reinterpret_cast<void**>(MediaEvent_.GetAddressOf()))))
        MediaEvent_->SetNotifyWindow(reinterpret_cast<OAHWND>(Handle()), WM_GRAPHNOTIFY, 0);
    PreviewGraphBuilt_ = true;
    FiltersReady_ = true;
    return true;
}

bool TGDirectCapPin2::WirePreviewPath(bool PreviewOnly) {
    if (!Graph_) return false;
    const auto connect = [this](IPin* out, IPin* in) -> HRESULT {
        if (!out || !in) return E_POINTER;
        return Graph_->Connect(out, in);
    };

    for (const wchar_t* name : {L"Color Space Converter", L"Video Renderer", L"AVI Decompressor",
                                L"MJPEG Decompressor", L"Mux"}) {
        // Bounded: a filter the graph refuses to remove must not loop forever.
        for (int i = 0; i < 8; ++i) {
            ComPtr<IBaseFilter> f = FindFilterByName(name);
            // The recording's multiplexer is already joined to its file: it stays.
            if (!f || (Mux_ && f.Get() == Mux_.Get()) || FAILED(Graph_->RemoveFilter(f.Get())))
                break;
        }
    }

    ComPtr<IEnumPins> cameraPins = PinsOf(VideoFilter_.Get());
    ComPtr<IPin> c1 = FindPinByDirection(cameraPins.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> c2 = NextPinAfter(cameraPins.Get(), c1.Get());
    bool stillPin = false;
    if (c2) {
        const std::wstring n = PinName(c2.Get());
        stillPin = n == L"\uC815\uC9C0" || n == L"Stop";
    }

    ComPtr<IBaseFilter> tee = FindFilterByName(L"Smart Tee");
    if (!tee) tee = CreateFilter(CLSID_SmartTee, L"Smart Tee");
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber, L"Preview Video Grabber");
    PreviewGrabber_.Reset();
    if (grabber) grabber.As(&PreviewGrabber_);
    ComPtr<IBaseFilter> converter = CreateFilter(CLSID_Colour, L"Preview Color Space Converter");
    ComPtr<IBaseFilter> renderer = CreateFilter(CLSID_VideoRenderer, L"Video Renderer");
    if (!renderer) return false;

    ComPtr<IBaseFilter> decoder;
    if (VideoStreamConfig_) {
        MediaTypePtr mt;
        if (SUCCEEDED(VideoStreamConfig_->GetFormat(mt.put())) && mt.VideoInfo()) {
            const DWORD code = mt.VideoInfo()->bmiHeader.biCompression;
            if (code == FourCC('I', '4', '2', '0') || code == FourCC('Y', 'U', 'Y', '2') ||
                code == FourCC('U', 'Y', 'V', 'Y')) {
                decoder = CreateFilter(CLSID_AVIDec, L"AVI Decompressor");
                if (stillPin) CreateFilter(CLSID_AVIDec, L"Still AVI Decompressor");
            } else if (code == FourCC('M', 'J', 'P', 'G')) {
                decoder = CreateFilter(CLSID_MjpegDec, L"MJPG Decompressor");
                if (stillPin) CreateFilter(CLSID_AVIDec, L"Still AVI Decompressor");
            }
        }
    }

    ComPtr<IEnumPins> teePins = PinsOf(tee.Get());
    ComPtr<IPin> ti = FindPinByDirection(teePins.Get(), PINDIR_INPUT);
    ComPtr<IPin> t1 = FindPinByDirection(teePins.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> t2 = NextPinAfter(teePins.Get(), t1.Get());
    connect(c1.Get(), ti.Get());

    ComPtr<IPin> gi = FirstPin(grabber.Get(), PINDIR_INPUT);
    ComPtr<IPin> go = FirstPin(grabber.Get(), PINDIR_OUTPUT);
    // Without a tee the camera's second output feeds the chain.
    IPin* feed = tee ? t2.Get() : c2.Get();
    if (tee && t2) Graph_->Disconnect(t2.Get());
    if (decoder) {
        connect(feed, FirstPin(decoder.Get(), PINDIR_INPUT).Get());
        connect(FirstPin(decoder.Get(), PINDIR_OUTPUT).Get(), gi.Get());
    } else {
        connect(feed, gi.Get());
    }

    ComPtr<IPin> co = FirstPin(converter.Get(), PINDIR_OUTPUT);
    connect(go.Get(), FirstPin(converter.Get(), PINDIR_INPUT).Get());
    if (FAILED(connect(co.Get(), FirstPin(renderer.Get(), PINDIR_INPUT).Get()))) {
        Graph_->RemoveFilter(renderer.Get());
        renderer = CreateFilter(CLSID_VideoRenderer, L"Video Renderer");
        connect(co.Get(), FirstPin(renderer.Get(), PINDIR_INPUT).Get());
    }

    // The tee's capture output (the camera's own without a tee) feeds the recording.
    if (!PreviewOnly) WireRecordingVideo(tee ? t1.Get() : c1.Get());

    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    switch (VideoFormat_.bmiHeader.biBitCount) {
        case 1:
            mt.subtype = MEDIASUBTYPE_RGB1;
            break;
        case 4:
            mt.subtype = MEDIASUBTYPE_RGB4;
            break;
        case 8:
            mt.subtype = MEDIASUBTYPE_RGB8;
            break;
        case 16:
            mt.subtype = MEDIASUBTYPE_RGB555;
            break;
        case 32:
            mt.subtype = MEDIASUBTYPE_RGB32;
            break;
        default:
            mt.subtype = MEDIASUBTYPE_RGB24;
    }
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(VideoFormat_);
    mt.pbFormat = reinterpret_cast<BYTE*>(&VideoFormat_);
    if (PreviewGrabber_) {
        if (FAILED(PreviewGrabber_->SetMediaType(&mt))) Error(ErrGrabberMediaType);
        PreviewGrabber_->SetBufferSamples(FALSE);
        PreviewGrabber_->SetOneShot(FALSE);
        VideoCB_->Handle = HandleAllocated() ? Handle() : nullptr;
        PreviewGrabber_->SetCallback(VideoCB_.get(), 1);
    }
    return go && SUCCEEDED(Graph_->Render(go.Get()));
}

void TGDirectCapPin2::WirePreviewAudio() {
    if (!Graph_ || !AudioFilter_) return;
    ComPtr<IPin> ao = FirstPin(AudioFilter_.Get(), PINDIR_OUTPUT);
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber, L"Audio Grabber");
    AudioGrabber_.Reset();
    if (grabber) grabber.As(&AudioGrabber_);
    ComPtr<IPin> ai = FirstPin(grabber.Get(), PINDIR_INPUT);
    ComPtr<IPin> ag = FirstPin(grabber.Get(), PINDIR_OUTPUT);
    if (ao && ai) Graph_->Connect(ao.Get(), ai.Get());
    ComPtr<IBaseFilter> sink = CreateFilter(CLSID_NullRenderer, L"Null Renderer");
    ComPtr<IPin> ni = FirstPin(sink.Get(), PINDIR_INPUT);
    if (ag && ni) Graph_->Connect(ag.Get(), ni.Get());

    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.cbFormat = sizeof(AudioFormat_);
    mt.pbFormat = reinterpret_cast<BYTE*>(&AudioFormat_);
    if (AudioGrabber_) {
        if (FAILED(AudioGrabber_->SetMediaType(&mt))) Error(ErrGrabberMediaType);
        AudioGrabber_->SetBufferSamples(FALSE);
        AudioGrabber_->SetOneShot(FALSE);
        AudioCB_->Handle = HandleAllocated() ? Handle() : nullptr;
        AudioGrabber_->SetCallback(AudioCB_.get(), 0);
    }
    if (ag) Graph_->Render(ag.Get());
}

bool TGDirectCapPin2::AttachVideoWindow() {
    VideoWindow_.Reset();
    if (!Graph_ || FAILED(Graph_->QueryInterface(
                       IID_IVideoWindow, reinterpret_cast<void**>(VideoWindow_.GetAddressOf()))))
        return false;
    const OAHWND self = reinterpret_cast<OAHWND>(Handle());
    VideoWindow_->put_Owner(self);
    VideoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    VideoWindow_->put_Visible(OATRUE);
    VideoWindow_->put_MessageDrain(self);
    {
        PumpScope pumping(*this);
        fw::App().ProcessMessages();
    }
    FitVideoWindow();
    return true;
}

void TGDirectCapPin2::FitVideoWindow() {
    if (!VideoWindow_) return;
    VideoWindow_->SetWindowPosition(0, 0, ClientWidth(), ClientHeight());
}

LRESULT TGDirectCapPin2::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SIZE) {
        FitVideoWindow();
    } else if (msg == WM_GRAPHNOTIFY) {
        HandleGraphEvents();
        return 0;
    }
    return WinControl::WndProc(msg, wParam, lParam);
}

void TGDirectCapPin2::StopEachFilter() {
    // After a failed Run some platforms leave the filters paused and ignore the graph's
    // Stop; a graph released in that state never lets go of its streaming threads.
    if (!Graph_) return;
    ComPtr<IEnumFilters> filters;
    if (FAILED(Graph_->EnumFilters(&filters))) return;
    ComPtr<IBaseFilter> f;
    while (filters->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        FILTER_STATE state;
        if (f && (FAILED(f->GetState(0, &state)) || state != State_Stopped)) f->Stop();
    }
}

bool TGDirectCapPin2::CameraRuns() {
    // Some platforms answer IMediaControl::Run with the renderer's S_FALSE and start the
    // other filters afterwards, ignoring a camera that refuses to run (one that another
    // program holds, or one unplugged). The run counts once the camera itself runs; where
    // the graph runs its filters before returning, this holds at the first look.
    if (!VideoFilter_) return true;
    ComPtr<IBaseFilter> camera = VideoFilter_;
    // A filter may need this thread during its start (a window of its own, a sent
    // message): sent messages are answered meanwhile, posted ones wait.
    PumpScope pumping(*this);
    // A busy machine can take well over half a second to start a camera; the wait ends as
    // soon as it runs, so a generous limit costs time only when the camera really refuses.
    constexpr DWORD kLimitMs = 2000;
    const DWORD start = ::GetTickCount();
    for (;;) {
        FILTER_STATE state;
        if (SUCCEEDED(camera->GetState(0, &state)) && state == State_Running) return true;
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= kLimitMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(2, kLimitMs - waited),
                                      QS_SENDMESSAGE, 0);
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool TGDirectCapPin2::StartPreview() {
    if (Pumping_ > 0 || Previewing_) return false;
    Operation operation(*this);
    if (Capturing_) StopCapture();
    if (!BuildPreviewGraph() || !PreviewGraphBuilt_ || !FiltersReady_) return false;
    if (VideoMoniker_) {
        VideoCB_->SetFrameCount(0);
        VideoCB_->SetEnabled(true);
    }
    if (AudioMoniker_) {
        AudioCB_->SetFrameCount(0);
        AudioCB_->SetEnabled(true);
    }
    ComPtr<IMediaControl> control;
    bool ran = SUCCEEDED(Graph_.As(&control));
    NoteStreamFrameSize();
    if (ran && (FAILED(control->Run()) || !CameraRuns())) {
        control->Stop();
        StopEachFilter();
        ran = false;
    }
    if (!ran) {
        VideoCB_->SetEnabled(false);
        AudioCB_->SetEnabled(false);
        Error(ErrRunPreview);
        return false;
    }
    auto alive = AliveToken();
    Notify(OnStartPreview);
    if (alive.expired()) return false;
    Previewing_ = true;
    return true;
}

bool TGDirectCapPin2::StopPreview() {
    if (!Previewing_) return false;
    // A start in progress has not reported yet: it would report a preview already gone.
    if (Pumping_ > 0) return false;
    Operation operation(*this);
    VideoCB_->SetEnabled(false);
    AudioCB_->SetEnabled(false);
    Previewing_ = false;
    if (Graph_) {
        ComPtr<IMediaControl> control;
        if (FAILED(Graph_.As(&control)) || FAILED(control->Stop())) {
            Error(ErrStopGraph);
            return false;
        }
    }
    if (HandleAllocated()) Invalidate();
    Notify(OnStopPreview);
    return true;
}

void TGDirectCapPin2::TearDownGraph() {
    if (Pumping_ > 0) return;
    DetachCallbacks();
    FileSink_.Reset();
    ConfigAviMux_.Reset();
    ConfigInterleaving_.Reset();
    Mux_.Reset();
    AsfWriter_.Reset();
    if (VideoWindow_) {
        VideoWindow_->put_Visible(OAFALSE);
        VideoWindow_->put_Owner(0);
    }
    VideoWindow_.Reset();
    if (MediaEvent_) MediaEvent_->SetNotifyWindow(0, 0, 0);
    MediaEvent_.Reset();
    DroppedFrames_.Reset();
    // Back to what the devices' opening left: the devices alone. Filters that were never
    // connected go too, or each rebuild would add to them.
    if (Graph_) {
        std::vector<ComPtr<IBaseFilter>> added;
        ComPtr<IEnumFilters> filters;
        if (SUCCEEDED(Graph_->EnumFilters(&filters))) {
            ComPtr<IBaseFilter> f;
            while (filters->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
                if (f && f.Get() != VideoFilter_.Get() && f.Get() != AudioFilter_.Get())
                    added.push_back(f);
            }
        }
        for (const auto& f : added) Graph_->RemoveFilter(f.Get());
    }
    CaptureGraphBuilt_ = false;
    PreviewGraphBuilt_ = false;
}

void TGDirectCapPin2::HandleGraphEvents() {
    // Read once the running operation is over: a handler may stop or restart the preview.
    if (Pumping_ > 0) {
        GraphEventsDeferred_ = true;
        return;
    }
    Operation operation(*this);
    const bool wasCapturing = Capturing_;
    const bool wasPreviewing = Previewing_;
    if (!MediaEvent_) return;
    // Held: a handler may tear the graph down while we read its events.
    ComPtr<IMediaEventEx> events = MediaEvent_;
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    auto alive = AliveToken();
    while (SUCCEEDED(events->GetEvent(&code, &p1, &p2, 0))) {
        if (code == EC_ERRORABORT) {
            StopCapture();
            // The stream has ended: a preview left as it is would show its last frame for
            // ever; stopped, it is started again below.
            StopPreview();
            // Said, or a recording cut short would look like one stopped on purpose.
            Error(ErrGraphAborted);
        } else if (code == EC_DEVICE_LOST) {
            StopCapture();
            StopPreview();
            Error(ErrDeviceLost);
        }
        events->FreeEventParams(code, p1, p2);
        if (alive.expired()) return;
    }
    if ((Capturing_ != wasCapturing || Previewing_ != wasPreviewing) && WantPreview) StartPreview();
}
