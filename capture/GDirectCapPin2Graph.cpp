// The capture control's filter graph: the hand-wired preview chain, the video window
// inside the control, running and stopping, and the graph's events.
#include "capture/GDirectCapPin2.h"

#include "capture/GraphDecisions.h"
#include "common/u_Log.h"

#include "framework/Application.h"

#include <algorithm>
#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// Class ids the filter names stand for, for platforms whose capture graph builder names
// the filters it adds "0001", "0002", ... instead of by their friendly names.
struct TNamedClass {
    const wchar_t* name;
    const CLSID* clsids[4];
};
const TNamedClass kNamedClasses[] = {
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
    if (!graph_.Graph) return nullptr;
    if (FAILED(::CoCreateInstance(Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter))))
        return nullptr;
    if (FAILED(graph_.Graph->AddFilter(filter.Get(), Name))) return nullptr;
    return filter;
}

ComPtr<IBaseFilter> TGDirectCapPin2::FindFilterByName(const wchar_t* Name) {
    ComPtr<IBaseFilter> filter;
    if (!graph_.Graph) return nullptr;
    if (SUCCEEDED(graph_.Graph->FindFilterByName(Name, &filter)) && filter) return filter;
    const TNamedClass* named = nullptr;
    for (const TNamedClass& n : kNamedClasses) {
        if (wcscmp(n.name, Name) == 0) named = &n;
    }
    if (!named) return nullptr;
    for (const ComPtr<IBaseFilter>& f : GraphFilters()) {
        CLSID clsid;
        if (FAILED(f->GetClassID(&clsid))) continue;
        for (const CLSID* c : named->clsids) {
            if (c && *c == clsid) return f;
        }
    }
    return nullptr;
}

bool TGDirectCapPin2::RenderPreviewStream() {
    ICaptureGraphBuilder2* const builder = graph_.Builder.Get();
    IBaseFilter* const video = devices_.Video.Get();
    if (!builder || !video) return false;
    // The decoder the builder's renderer needs goes in first, under the builder's own name
    // for it: intelligent connect tries the graph's filters before the registry, so no
    // search of every registered filter is made (under Wine each one leaves registry keys
    // open), and the preview wiring removes it with the rest of the builder's chain.
    const TDecoderKind kind = CameraDecoderKind();
    CreateDecoder(kind, kind == TDecoderKind::Mjpeg ? L"MJPEG Decompressor" : L"AVI Decompressor");
    HRESULT hr = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, video,
                                       nullptr, nullptr);
    if (hr != S_OK && hr != VFW_S_NOPREVIEWPIN)
        hr =
            builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, video, nullptr, nullptr);
    return hr == S_OK || hr == VFW_S_NOPREVIEWPIN;
}

bool TGDirectCapPin2::BuildPreviewGraph() {
    // Asked for from a message that one of the control's own waits dispatched: a build
    // may be half done, and a second one would render the camera twice.
    if (guard_.Pumping()) return false;
    if (Capturing() || Previewing()) return false;
    if (state_ == TGraphState::PreviewBuilt) return true;
    if (!devices_.Video || (audioWanted_ && !devices_.Audio)) return false;
    TOperation operation(guard_);
    if (state_ == TGraphState::CaptureBuilt) TearDownGraph();
    if (requested_.VideoChanged) ApplyVideoFormat();
    if (requested_.AudioChanged) ApplyAudioFormat();
    if (!RenderPreviewStream()) {
        Fail(ErrRenderPreview, "the preview's chain (RenderStream)", E_FAIL);
        return false;
    }
    if (audioWanted_) {
        ICaptureGraphBuilder2* const builder = graph_.Builder.Get();
        IBaseFilter* const audio = devices_.Audio.Get();
        if (FAILED(
                builder->RenderStream(nullptr, &MEDIATYPE_Interleaved, audio, nullptr, nullptr)) &&
            FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio, nullptr, nullptr)))
            audioWanted_ = false;
    }
    WirePreviewPath(true);
    WirePreviewAudio();
    if (!AttachVideoWindow()) Fail(ErrPreviewVideoWindow, "IVideoWindow of the preview", E_FAIL);
    WatchGraphEvents();
    state_ = TGraphState::PreviewBuilt;
    filtersReady_ = true;
    return true;
}

void TGDirectCapPin2::WatchGraphEvents() {
    TGraphChain& chain = graph_.Chain;
    chain.Events.Reset();
    if (SUCCEEDED(graph_.Graph->QueryInterface(
            IID_IMediaEventEx, reinterpret_cast<void**>(chain.Events.GetAddressOf()))))
        chain.Events->SetNotifyWindow(reinterpret_cast<OAHWND>(Handle()), WM_GRAPHNOTIFY, 0);
}

void TGDirectCapPin2::SetUpGrabber(ISampleGrabber* Grabber, const AM_MEDIA_TYPE& Type,
                                   TSampleGrabberCB& Callback, long Kind) {
    if (!Grabber) return;
    if (const HRESULT set = Grabber->SetMediaType(const_cast<AM_MEDIA_TYPE*>(&Type)); FAILED(set))
        Fail(ErrGrabberMediaType, "ISampleGrabber::SetMediaType", set);
    Grabber->SetBufferSamples(FALSE);
    Grabber->SetOneShot(FALSE);
    Callback.Handle = HandleAllocated() ? Handle() : nullptr;
    Grabber->SetCallback(&Callback, Kind);
}

namespace {

// Out already feeds In: the capture graph builder joined them while rendering.
bool AlreadyJoined(IPin* Out, IPin* In) {
    ComPtr<IPin> peer;
    return SUCCEEDED(Out->ConnectedTo(&peer)) && peer.Get() == In;
}

// Renders an output pin that nothing takes yet. A joined pin is left alone: Windows refuses
// to render it anyway, and Wine would search every registered filter first and leave
// registry handles open on each search.
void RenderIfFree(IGraphBuilder* Graph, IPin* Out) {
    ComPtr<IPin> peer;
    if (Out && Out->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) Graph->Render(Out);
}

// Joins two pins of the preview chain. A missing pin (its filter is missing) is passed
// over; present pins that will not join make the chain incomplete.
void JoinChainPins(IGraphBuilder* Graph, IPin* Out, IPin* In, bool& Complete) {
    if (!Out || !In) return;
    if (AlreadyJoined(Out, In) || SUCCEEDED(Graph->Connect(Out, In))) return;
    Complete = false;
}

// The camera's still pin, by the names its driver gives it.
bool IsStillPin(IPin* Pin) {
    const std::wstring n = PinName(Pin);
    return n == L"\uC815\uC9C0" || n == L"Stop";
}

}  // namespace

void TGDirectCapPin2::RemoveStalePreviewFilters() {
    IGraphBuilder* const graph = graph_.Graph.Get();
    for (const wchar_t* name : {L"Color Space Converter", L"Video Renderer", L"AVI Decompressor",
                                L"MJPEG Decompressor", L"Mux"}) {
        // Bounded: a filter the graph refuses to remove must not loop forever.
        for (int i = 0; i < 8; ++i) {
            ComPtr<IBaseFilter> f = FindFilterByName(name);
            // The recording's multiplexer is already joined to its file: it stays.
            const IBaseFilter* mux = graph_.Chain.Mux.Get();
            if (!f || (mux && f.Get() == mux) || FAILED(graph->RemoveFilter(f.Get()))) break;
        }
    }
}

TDecoderKind TGDirectCapPin2::CameraDecoderKind() {
    TMediaTypePtr format;
    if (!devices_.VideoConfig || FAILED(devices_.VideoConfig->GetFormat(format.put())) ||
        !format.VideoInfo())
        return TDecoderKind::None;
    return DecoderForFourCC(format.VideoInfo()->bmiHeader.biCompression);
}

ComPtr<IBaseFilter> TGDirectCapPin2::CreateDecoder(TDecoderKind Kind, const wchar_t* Name) {
    switch (Kind) {
        case TDecoderKind::Avi:
            return CreateFilter(CLSID_AVIDec, Name);
        case TDecoderKind::Mjpeg:
            return CreateFilter(CLSID_MjpegDec, Name);
        case TDecoderKind::None:
            break;
    }
    return nullptr;
}

ComPtr<IBaseFilter> TGDirectCapPin2::CreatePreviewDecoder(bool StillPin) {
    const TDecoderKind kind = CameraDecoderKind();
    ComPtr<IBaseFilter> decoder = CreateDecoder(
        kind, kind == TDecoderKind::Mjpeg ? L"MJPG Decompressor" : L"AVI Decompressor");
    if (kind != TDecoderKind::None && StillPin)
        CreateFilter(CLSID_AVIDec, L"Still AVI Decompressor");
    return decoder;
}

void TGDirectCapPin2::JoinPreviewRenderer(IPin* ConverterOut, ComPtr<IBaseFilter>& Renderer,
                                          bool& Complete) {
    IGraphBuilder* const graph = graph_.Graph.Get();
    // The first try at the renderer is not the last: a renderer that would not join gets
    // one fresh chance.
    ComPtr<IPin> ri = FirstPin(Renderer.Get(), PINDIR_INPUT);
    if (ConverterOut && ri && SUCCEEDED(graph->Connect(ConverterOut, ri.Get()))) return;
    graph->RemoveFilter(Renderer.Get());
    Renderer = CreateFilter(CLSID_VideoRenderer, L"Video Renderer");
    JoinChainPins(graph, ConverterOut, FirstPin(Renderer.Get(), PINDIR_INPUT).Get(), Complete);
}

TGDirectCapPin2::TWiring TGDirectCapPin2::WirePreviewPath(bool PreviewOnly) {
    TWiring wiring;
    IGraphBuilder* const graph = graph_.Graph.Get();
    if (!graph) return wiring;
    bool complete = true;
    const auto connect = [&](IPin* out, IPin* In) { JoinChainPins(graph, out, In, complete); };
    RemoveStalePreviewFilters();

    ComPtr<IEnumPins> cameraPins = PinsOf(devices_.Video.Get());
    ComPtr<IPin> c1 = FindPinByDirection(cameraPins.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> c2 = NextPinAfter(cameraPins.Get(), c1.Get());
    const bool stillPin = c2 && IsStillPin(c2.Get());

    ComPtr<IBaseFilter> tee = FindFilterByName(L"Smart Tee");
    if (!tee) tee = CreateFilter(CLSID_SmartTee, L"Smart Tee");
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber, L"Preview Video Grabber");
    graph_.Chain.PreviewGrabber.Reset();
    if (grabber) grabber.As(&graph_.Chain.PreviewGrabber);
    ComPtr<IBaseFilter> converter = CreateFilter(CLSID_Colour, L"Preview Color Space Converter");
    ComPtr<IBaseFilter> renderer = CreateFilter(CLSID_VideoRenderer, L"Video Renderer");
    if (!renderer) return wiring;
    ComPtr<IBaseFilter> decoder = CreatePreviewDecoder(stillPin);

    ComPtr<IEnumPins> teePins = PinsOf(tee.Get());
    ComPtr<IPin> ti = FindPinByDirection(teePins.Get(), PINDIR_INPUT);
    ComPtr<IPin> t1 = FindPinByDirection(teePins.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> t2 = NextPinAfter(teePins.Get(), t1.Get());
    connect(c1.Get(), ti.Get());

    ComPtr<IPin> gi = FirstPin(grabber.Get(), PINDIR_INPUT);
    ComPtr<IPin> go = FirstPin(grabber.Get(), PINDIR_OUTPUT);
    // Without a tee the camera's second output feeds the chain.
    IPin* feed = tee ? t2.Get() : c2.Get();
    if (tee && t2) graph->Disconnect(t2.Get());
    if (decoder) {
        connect(feed, FirstPin(decoder.Get(), PINDIR_INPUT).Get());
        connect(FirstPin(decoder.Get(), PINDIR_OUTPUT).Get(), gi.Get());
    } else {
        connect(feed, gi.Get());
    }
    ComPtr<IPin> co = FirstPin(converter.Get(), PINDIR_OUTPUT);
    connect(go.Get(), FirstPin(converter.Get(), PINDIR_INPUT).Get());
    JoinPreviewRenderer(co.Get(), renderer, complete);

    // The tee's capture output (the camera's own without a tee) feeds the recording.
    if (!PreviewOnly) wiring.Recording = WireRecordingVideo(tee ? t1.Get() : c1.Get());

    SetUpGrabber(graph_.Chain.PreviewGrabber.Get(), VideoGrabberType(videoFormat_), *videoCB_, 1);
    // Whatever the grabber's output is not joined to yet gets the platform's renderer.
    RenderIfFree(graph, go.Get());
    if (!complete) Fail(ErrRenderPreview, "a connection of the preview's chain", E_FAIL);
    wiring.Preview = complete;
    return wiring;
}

void TGDirectCapPin2::WirePreviewAudio() {
    IGraphBuilder* const graph = graph_.Graph.Get();
    if (!graph || !devices_.Audio) return;
    ComPtr<IPin> ao = FirstPin(devices_.Audio.Get(), PINDIR_OUTPUT);
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber, L"Audio Grabber");
    graph_.Chain.AudioGrabber.Reset();
    if (grabber) grabber.As(&graph_.Chain.AudioGrabber);
    ComPtr<IPin> ai = FirstPin(grabber.Get(), PINDIR_INPUT);
    ComPtr<IPin> ag = FirstPin(grabber.Get(), PINDIR_OUTPUT);
    if (ao && ai) graph->Connect(ao.Get(), ai.Get());
    ComPtr<IBaseFilter> sink = CreateFilter(CLSID_NullRenderer, L"Null Renderer");
    ComPtr<IPin> ni = FirstPin(sink.Get(), PINDIR_INPUT);
    if (ag && ni) graph->Connect(ag.Get(), ni.Get());
    SetUpGrabber(graph_.Chain.AudioGrabber.Get(), AudioGrabberType(audioFormat_), *audioCB_, 0);
    RenderIfFree(graph, ag.Get());
}

bool TGDirectCapPin2::AttachVideoWindow() {
    ComPtr<IVideoWindow>& window = graph_.Chain.VideoWindow;
    window.Reset();
    if (!graph_.Graph || FAILED(graph_.Graph->QueryInterface(
                             IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf()))))
        return false;
    const OAHWND self = reinterpret_cast<OAHWND>(Handle());
    // The graph always offers the interface; without a video renderer in it, taking the
    // window fails.
    if (FAILED(window->put_Owner(self))) {
        window.Reset();
        return false;
    }
    window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    window->put_Visible(OATRUE);
    window->put_MessageDrain(self);
    {
        TPumpScope pumping(guard_);
        fw::App().ProcessMessages();
    }
    FitVideoWindow();
    return true;
}

void TGDirectCapPin2::FitVideoWindow() {
    if (const ComPtr<IVideoWindow>& window = graph_.Chain.VideoWindow)
        window->SetWindowPosition(0, 0, ClientWidth(), ClientHeight());
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
    for (const ComPtr<IBaseFilter>& f : GraphFilters()) {
        FILTER_STATE state;
        if (FAILED(f->GetState(0, &state)) || state != State_Stopped) f->Stop();
    }
}

bool TGDirectCapPin2::CameraRuns() {
    // Some platforms answer IMediaControl::Run with the renderer's S_FALSE and start the
    // other filters afterwards, ignoring a camera that refuses to run (one that another
    // program holds, or one unplugged). The run counts once the camera itself runs; where
    // the graph runs its filters before returning, this holds at the first look.
    if (!devices_.Video) return true;
    ComPtr<IBaseFilter> camera = devices_.Video;
    // A filter may need this thread during its start (a window of its own, a sent
    // message): sent messages are answered meanwhile, posted ones wait.
    TPumpScope pumping(guard_);
    // A busy machine can take well over half a second to start a camera; the wait ends as
    // soon as it runs, so a generous limit costs time only when the camera really refuses.
    constexpr DWORD kLimitMs = 2000;
    const DWORD start = ::GetTickCount();
    for (;;) {
        FILTER_STATE state;
        if (SUCCEEDED(camera->GetState(0, &state)) && state == State_Running) return true;
        // A recording start that was asked to end meanwhile waits no longer.
        if (start_.StopAsked) return false;
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= kLimitMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(2, kLimitMs - waited),
                                      QS_SENDMESSAGE, 0);
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void TGDirectCapPin2::EnableCallbacks(bool Enabled) {
    // Frames count from 1 again at each start; a callback object without its device stays
    // off.
    if (!Enabled || videoMoniker_) {
        if (Enabled) videoCB_->SetFrameCount(0);
        videoCB_->SetEnabled(Enabled);
    }
    if (!Enabled || audioMoniker_) {
        if (Enabled) audioCB_->SetFrameCount(0);
        audioCB_->SetEnabled(Enabled);
    }
}

bool TGDirectCapPin2::StartPreview() {
    if (guard_.Pumping() || Previewing()) return false;
    TOperation operation(guard_);
    if (Capturing()) StopCapture();
    if (!BuildPreviewGraph() || state_ != TGraphState::PreviewBuilt || !filtersReady_) return false;
    EnableCallbacks(true);
    ComPtr<IMediaControl> control;
    bool ran = SUCCEEDED(graph_.Graph.As(&control));
    NoteStreamFrameSize();
    HRESULT result = ran ? control->Run() : E_NOINTERFACE;
    if (ran && (FAILED(result) || !CameraRuns())) {
        // A camera that never ran says why through its own state.
        if (SUCCEEDED(result)) {
            FILTER_STATE state;
            result = devices_.Video ? devices_.Video->GetState(0, &state) : E_FAIL;
            if (SUCCEEDED(result)) result = VFW_E_NOT_RUNNING;
        }
        control->Stop();
        StopEachFilter();
        ran = false;
    }
    if (!ran) {
        EnableCallbacks(false);
        Fail(ErrRunPreview, "IMediaControl::Run", result);
        return false;
    }
    // Reported once it is true: a handler that asks finds the preview running.
    state_ = TGraphState::Previewing;
    Raise(OnStartPreview);
    return true;
}

bool TGDirectCapPin2::StopPreview() {
    if (!Previewing()) return false;
    // A start in progress has not reported yet: it would report a preview already gone.
    if (guard_.Pumping()) return false;
    TOperation operation(guard_);
    EnableCallbacks(false);
    state_ = TGraphState::PreviewBuilt;
    if (graph_.Graph) {
        ComPtr<IMediaControl> control;
        HRESULT stopped = graph_.Graph.As(&control);
        if (SUCCEEDED(stopped)) stopped = control->Stop();
        if (FAILED(stopped)) {
            Fail(ErrStopGraph, "IMediaControl::Stop of the preview", stopped);
            return false;
        }
    }
    if (HandleAllocated()) Invalidate();
    Raise(OnStopPreview);
    return true;
}

void TGDirectCapPin2::TearDownGraph() {
    if (guard_.Pumping()) return;
    // A running recording is finished first: its file is closed whole and its end said.
    if (Capturing()) StopCapture();
    graph_.Chain.Release();
    // Back to what the devices' opening left: the devices alone. Filters that were never
    // connected go too, or each rebuild would add to them.
    for (const ComPtr<IBaseFilter>& f : GraphFilters()) {
        if (f.Get() != devices_.Video.Get() && f.Get() != devices_.Audio.Get())
            graph_.Graph->RemoveFilter(f.Get());
    }
    state_ = TGraphState::None;
}

void TGDirectCapPin2::HandleGraphEvents() {
    // Read once the running operation is over: a handler may stop or restart the preview.
    if (guard_.Pumping()) {
        guard_.DeferGraphEvents();
        return;
    }
    TOperation operation(guard_);
    const bool wasCapturing = Capturing();
    const bool wasPreviewing = Previewing();
    if (!graph_.Chain.Events) return;
    // Held: a handler may tear the graph down while we read its events.
    ComPtr<IMediaEventEx> events = graph_.Chain.Events;
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
            Fail(ErrGraphAborted, "the stream (EC_ERRORABORT)", static_cast<HRESULT>(p1));
        } else if (code == EC_DEVICE_LOST) {
            StopCapture();
            StopPreview();
            Fail(ErrDeviceLost, "the camera's connection (EC_DEVICE_LOST)",
                 HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
        }
        events->FreeEventParams(code, p1, p2);
        if (alive.expired()) return;
    }
    if ((Capturing() != wasCapturing || Previewing() != wasPreviewing) && WantPreview)
        StartPreview();
}
