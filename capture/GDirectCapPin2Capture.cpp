// The capture control's recording: the recording graph (AVI multiplexer and file writer,
// or the WM ASF Writer), starting and stopping it, the progress timer and the capture
// file's preallocation and compaction.
#include "capture/GDirectCapPin2.h"
#include "capture/GraphDecisions.h"
#include "common/u_Log.h"
#include "capture/NumberedFiles.h"
#include "capture/SilentAudioSource.h"
#include "common/u_PathUtil.h"

#include <mmsystem.h>

#include <algorithm>
#include <climits>
#include <cwctype>
#include <utility>

using Microsoft::WRL::ComPtr;

uint64_t CaptureFileAllocation(uint32_t Megabytes) {
    return static_cast<uint64_t>(std::min(Megabytes, MaxCaptureFileMegabytes)) * 1048576u;
}

namespace {

// The Windows Media writer runs only with every input of its profile connected, and its
// format needs a sound stream: without the microphone's sound it gets silence of our own.
// False when that could not be joined (the writer's start then fails).
bool FeedSilence(IGraphBuilder* Graph, IBaseFilter* Writer) {
    ComPtr<IBaseFilter> silence = CreateSilentAudioSource();
    if (!silence || FAILED(Graph->AddFilter(silence.Get(), L"Silent Audio"))) return false;
    ComPtr<IPin> out = FirstPin(silence.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = FirstPin(Writer, PINDIR_INPUT);
    if (out && in && SUCCEEDED(Graph->Connect(out.Get(), in.Get()))) return true;
    Graph->RemoveFilter(silence.Get());
    return false;
}

// Removes a reserved recording file that nothing was written into.
void DropEmptyFile(const std::wstring& FileName) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!FileName.empty() &&
        ::GetFileAttributesExW(ExtendedPath(FileName).c_str(), GetFileExInfoStandard, &data) &&
        data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)
        ::DeleteFileW(ExtendedPath(FileName).c_str());
}

// The recording's name, taken by creating its file exclusively, so that no existing file
// is ever handed to a writer in overwrite mode. Unless Keep, the file goes again whole:
// it was made by this build and holds nothing recorded, at most preallocated space.
struct TNameReservation {
    std::wstring FileName;
    bool Keep = false;
    ~TNameReservation() {
        if (!Keep && !FileName.empty()) ::DeleteFileW(ExtendedPath(FileName).c_str());
    }
};

}  // namespace

TCaptureFileKind CaptureFileKind(const std::wstring& FileName) {
    const size_t slash = FileName.find_last_of(L"\\/");
    const size_t dot = FileName.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return TCaptureFileKind::None;
    std::wstring ext = FileName.substr(dot);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towlower(c));
    if (ext == L".avi" || ext == L".mpg") return TCaptureFileKind::Avi;
    if (ext == L".wmv") return TCaptureFileKind::Asf;
    return TCaptureFileKind::None;
}

bool TGDirectCapPin2::ConnectPins(IPin* Out, IPin* In) {
    return graph_.Graph && Out && In && SUCCEEDED(graph_.Graph->Connect(Out, In));
}

HRESULT TGDirectCapPin2::AllocateCaptureFile(uint32_t Megabytes) {
    // Every name handed on is in the form the writers take past MAX_PATH (the reserved
    // name may be that long: the folder can be). The reserved file is not deleted first:
    // it keeps the name ours until the writer takes it over.
    const std::wstring name = ExtendedPath(captureFileName_);
    if (!graph_.Builder) {
        const HRESULT hr = MakeCaptureGraphBuilder(graph_.Graph.Get(), graph_.Builder);
        if (FAILED(hr)) return hr;
    }
    return graph_.Builder->AllocCapFile(name.c_str(), CaptureFileAllocation(Megabytes));
}

bool TGDirectCapPin2::PreallocateCaptureFile(uint32_t Megabytes) {
    return AllocateCaptureFile(Megabytes) == S_OK;
}

bool TGDirectCapPin2::MakeAviOutput() {
    // For a builder that cannot set up AVI output itself: the same two filters, joined.
    ComPtr<IBaseFilter> mux = CreateFilter(CLSID_AviDest, L"Mux");
    ComPtr<IBaseFilter> writer = CreateFilter(CLSID_FileWriter, L"File Writer");
    ComPtr<IFileSinkFilter> sink;
    // Capture-mode interleaving is asked for before the output is joined: changing it
    // afterwards makes the multiplexer reconnect, which not every platform's survives.
    ComPtr<IConfigInterleaving> interleaving;
    if (mux && SUCCEEDED(mux.As(&interleaving))) interleaving->put_Mode(INTERLEAVE_CAPTURE);
    const bool ok = mux && writer && SUCCEEDED(writer.As(&sink)) &&
                    SUCCEEDED(sink->SetFileName(ExtendedPath(captureFileName_).c_str(), nullptr)) &&
                    ConnectPins(FirstPin(mux.Get(), PINDIR_OUTPUT).Get(),
                                FirstPin(writer.Get(), PINDIR_INPUT).Get());
    if (!ok) {
        if (mux) graph_.Graph->RemoveFilter(mux.Get());
        if (writer) graph_.Graph->RemoveFilter(writer.Get());
        return false;
    }
    graph_.Chain.Mux = mux;
    graph_.Chain.FileSink = sink;
    return true;
}

bool TGDirectCapPin2::SetUpAviOutput(int& Code) {
    TGraphChain& chain = graph_.Chain;
    Code = ErrSetOutputFile;
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    const HRESULT hr = graph_.Builder->SetOutputFileName(
        &MEDIASUBTYPE_Avi, ExtendedPath(captureFileName_).c_str(), &mux, &sink);
    bool madeHere = false;
    if (hr == E_NOTIMPL) {
        madeHere = MakeAviOutput();
        if (!madeHere) return false;
    } else if (FAILED(hr)) {
        return false;
    } else {
        chain.Mux = mux;
        chain.FileSink = sink;
    }
    // The name was made empty for this file: overwriting it is what is wanted, and a
    // writer without the mode writes over an empty file alike, so its answer is moot.
    ComPtr<IFileSinkFilter2> sink2;
    if (chain.FileSink && SUCCEEDED(chain.FileSink.As(&sink2))) sink2->SetMode(AM_FILE_OVERWRITE);
    // A builder that took the name but gave no multiplexer: nothing to tell the user of.
    Code = 0;
    if (!chain.Mux) return false;
    chain.ConfigAviMux.Reset();
    if (SUCCEEDED(chain.Mux.As(&chain.ConfigAviMux))) {
        chain.ConfigAviMux->SetOutputCompatibilityIndex(TRUE);
        ApplyMasterStream(audioWanted_ ? 1 : -1);
    }
    chain.ConfigInterleaving.Reset();
    // A multiplexer made here got its mode before it was joined to its writer.
    if (SUCCEEDED(chain.Mux.As(&chain.ConfigInterleaving)) && !madeHere)
        chain.ConfigInterleaving->put_Mode(INTERLEAVE_CAPTURE);
    return true;
}

bool TGDirectCapPin2::SetUpAsfOutput() {
    TGraphChain& chain = graph_.Chain;
    chain.AsfWriter = CreateFilter(CLSID_WMAsfWriter, L"Asf Writer");
    ComPtr<IFileSinkFilter> sink;
    if (!chain.AsfWriter) {
        LogFailure("capture", "the Windows Media writer (WM ASF Writer)", REGDB_E_CLASSNOTREG,
                   captureFileName_);
        return false;
    }
    HRESULT named = chain.AsfWriter.As(&sink);
    if (SUCCEEDED(named))
        named = sink->SetFileName(ExtendedPath(captureFileName_).c_str(), nullptr);
    if (FAILED(named)) {
        LogFailure("capture", "IFileSinkFilter::SetFileName", named, captureFileName_);
        return false;
    }
    // As for the AVI writer: the reserved name is empty, so the mode's answer is moot.
    ComPtr<IFileSinkFilter2> sink2;
    if (SUCCEEDED(chain.AsfWriter.As(&sink2))) sink2->SetMode(AM_FILE_OVERWRITE);
    // A writer that cannot take the profile would write by a default of its own,
    // or fail later with a less clear error: the writer cannot be set up.
    ComPtr<IConfigAsfWriter> config;
    HRESULT profiled = chain.AsfWriter.As(&config);
    if (SUCCEEDED(profiled))
        profiled = config->ConfigureFilterUsingProfileGuid(WMProfile_V80_HIGHVBRVideo);
    if (FAILED(profiled)) {
        LogFailure("capture", "IConfigAsfWriter::ConfigureFilterUsingProfileGuid", profiled,
                   captureFileName_);
        return false;
    }
    return true;
}

void TGDirectCapPin2::ApplyMasterStream(int Stream) {
    const ComPtr<IConfigAviMux>& config = graph_.Chain.ConfigAviMux;
    const HRESULT set = config ? config->SetMasterStream(Stream) : E_NOINTERFACE;
    if (SUCCEEDED(set))
        masterStream_ = Stream;
    else
        Fail(ErrMasterStream, "IConfigAviMux::SetMasterStream", set);
}

namespace {

// The writer's second input pin (the first is the sound's).
ComPtr<IPin> SecondInput(IBaseFilter* Filter) {
    ComPtr<IEnumPins> pins = PinsOf(Filter);
    ComPtr<IPin> first = FindPinByDirection(pins.Get(), PINDIR_INPUT);
    return NextPinAfter(pins.Get(), first.Get());
}

}  // namespace

bool TGDirectCapPin2::WireRecordingVideo(IPin* Source) {
    const TGraphChain& chain = graph_.Chain;
    if (chain.AsfWriter) {
        // The writer's second input takes uncompressed video and encodes it by its
        // profile; the first is the sound's. The decoder a compressed camera format needs
        // is put in the graph first, so that the connection takes it instead of searching
        // every registered filter; one the connection did not need goes again.
        ComPtr<IBaseFilter> decoder =
            CreateDecoder(CameraDecoderKind(), L"Recording Video Decompressor");
        const bool wired = ConnectPins(Source, SecondInput(chain.AsfWriter.Get()).Get());
        ComPtr<IPin> decoderIn = FirstPin(decoder.Get(), PINDIR_INPUT), fed;
        if (decoderIn && FAILED(decoderIn->ConnectedTo(&fed)))
            graph_.Graph->RemoveFilter(decoder.Get());
        return wired;
    }
    if (!chain.Mux) return false;
    IPin* feed = Source;
    ComPtr<IPin> compressed;
    IBaseFilter* const compressor = devices_.VideoCompressor.Get();
    if (compressor && SUCCEEDED(graph_.Graph->AddFilter(compressor, L"Video Compressor")) &&
        ConnectPins(Source, FirstPin(compressor, PINDIR_INPUT).Get())) {
        compressed = FirstPin(compressor, PINDIR_OUTPUT);
        feed = compressed.Get();
    }
    return ConnectPins(feed, FirstPin(chain.Mux.Get(), PINDIR_INPUT).Get());
}

bool TGDirectCapPin2::WireCaptureAudio() {
    if (!graph_.Graph || !devices_.Audio) return false;
    TGraphChain& chain = graph_.Chain;
    ComPtr<IPin> ao = FirstPin(devices_.Audio.Get(), PINDIR_OUTPUT);
    bool wired = false;
    if (chain.AsfWriter) {
        // Uncompressed sound to the writer's first input; the writer encodes it.
        wired = ConnectPins(ao.Get(), FirstPin(chain.AsfWriter.Get(), PINDIR_INPUT).Get());
    } else {
        ComPtr<IBaseFilter> mux = chain.Mux ? chain.Mux : FindFilterByName(L"Mux");
        IPin* feed = ao.Get();
        ComPtr<IPin> compressed;
        IBaseFilter* const compressor = devices_.AudioCompressor.Get();
        if (compressor && SUCCEEDED(graph_.Graph->AddFilter(compressor, L"Audio Compressor")) &&
            ConnectPins(ao.Get(), FirstPin(compressor, PINDIR_INPUT).Get())) {
            compressed = FirstPin(compressor, PINDIR_OUTPUT);
            feed = compressed.Get();
        }
        wired = ConnectPins(feed, SecondInput(mux.Get()).Get());
    }
    // A grabber kept from an earlier preview graph gets its type and callback again;
    // nothing feeds it here.
    SetUpGrabber(chain.AudioGrabber.Get(), AudioGrabberType(audioFormat_), *audioCB_, 0);
    return wired;
}

bool TGDirectCapPin2::ReserveCaptureFile(TCaptureFileKind Kind, std::wstring& Reserved) {
    DWORD error = ERROR_SUCCESS;
    if (!CreateUniqueFile(VideoFileName, Reserved, error)) {
        Fail(ErrSetOutputFile, "CreateFile of a new numbered name", HRESULT_FROM_WIN32(error),
             VideoFileName);
        return false;
    }
    captureFileName_ = Reserved;
    // Preallocation (and compaction) are AVI capture-file facilities; a name of another
    // kind (the ASF writer makes its own file) gets none.
    if (Kind == TCaptureFileKind::Avi && BufferFileSize != 0) {
        const HRESULT hr = AllocateCaptureFile(BufferFileSize);
        // A platform without preallocation records into a growing file instead.
        if (hr != S_OK && hr != E_NOTIMPL) {
            Fail(ErrPreallocate, "ICaptureGraphBuilder2::AllocCapFile", hr, captureFileName_);
            return false;
        }
    }
    return true;
}

bool TGDirectCapPin2::WireRecordingStreams() {
    // Video first: it takes the multiplexer's first input, the sound the next one.
    bool videoWired = false;
    if (WantPreview) {
        if (!RenderPreviewStream())
            Fail(ErrRenderPreview, "the preview of the recording (RenderStream)", E_FAIL);
        videoWired = WirePreviewPath(false).Recording;
    } else {
        videoWired = WireRecordingVideo(FirstPin(devices_.Video.Get(), PINDIR_OUTPUT).Get());
    }
    if (!videoWired) return false;
    bool audioWired = false;
    if (audioWanted_) {
        audioWired = WireCaptureAudio();
        // Missing sound never stops a recording: an AVI file gets video only, a
        // Windows Media file a silent sound track.
        if (!audioWired) {
            Fail(ErrRenderCaptureAudio, "the microphone's connection to the writer", E_FAIL);
            audioWanted_ = false;
        }
    }
    const TGraphChain& chain = graph_.Chain;
    if (chain.AsfWriter && !audioWired) FeedSilence(graph_.Graph.Get(), chain.AsfWriter.Get());
    if (WantPreview && !AttachVideoWindow())
        Fail(ErrCaptureVideoWindow, "IVideoWindow of the recording's preview", E_FAIL);
    return true;
}

bool TGDirectCapPin2::BuildCaptureGraph() {
    TOperation operation(guard_);
    // Writing must keep up with the camera; nothing lowers the priority again.
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    if (Capturing() || Previewing()) return false;
    if (state_ == TGraphState::CaptureBuilt) return true;
    if (!graph_.Graph || !devices_.Video || (audioWanted_ && !devices_.Audio)) return false;
    // A preview that could not play the microphone on a speaker gave up on sound; the
    // recording still takes it from the open microphone, unless that delivers no sound at
    // all (its format is not audio), which would only raise code 4 and time the file by a
    // sound stream it never gets.
    if (audioMoniker_ && devices_.Audio && audioUsable_) audioWanted_ = true;
    if (VideoFileName.empty()) VideoFileName = L"capture.avi";
    const TCaptureFileKind kind = CaptureFileKind(VideoFileName);
    // A name no writer here can write ends the attempt before anything is changed.
    if (kind == TCaptureFileKind::None) return false;
    TNameReservation reserved;
    if (!ReserveCaptureFile(kind, reserved.FileName)) return false;
    // Every way out before the end leaves no half-built graph behind.
    const auto fail = [this](int Code) {
        if (Code) Error(Code);
        TearDownGraph();
        return false;
    };
    try {
        if (state_ == TGraphState::PreviewBuilt) TearDownGraph();
        if (requested_.VideoChanged) ApplyVideoFormat();
        if (requested_.AudioChanged) ApplyAudioFormat();
        int code = ErrSetOutputFile;
        const bool output = kind == TCaptureFileKind::Avi ? SetUpAviOutput(code) : SetUpAsfOutput();
        if (!output) return fail(code);
        if (!WireRecordingStreams()) return fail(ErrRenderCapture);
        WatchGraphEvents();
        state_ = TGraphState::CaptureBuilt;
        reserved.Keep = true;
        return true;
    } catch (...) {
        // Only the allocator throws here (out of memory): nothing more to learn.
        Log("capture", "the recording graph could not be built: out of memory");
        return fail(0);
    }
}

bool TGDirectCapPin2::StartCapture() {
    // Refused while recording, with the progress timer (and so the time limit) left on.
    if (Capturing()) return false;
    // Asked for from a message that a build's wait dispatched, or from a handler of this
    // start: the graph under way is not torn down beneath it.
    if (guard_.Pumping() || start_.Running) return false;
    // One operation from here to the end: a device choice or graph event that one of the
    // start's waits dispatches is made once the start is over, never under its build.
    TOperation operation(guard_);
    auto alive = AliveToken();
    const bool wasPreviewing = Previewing();
    start_ = TCaptureStart{true, false};
    const bool started = BeginCapture();
    if (alive.expired()) return false;
    const bool stopAsked = std::exchange(start_, TCaptureStart{}).StopAsked;
    if (!started) {
        // Ended by a StopCapture meanwhile: back to the picture there was before.
        if (stopAsked && wasPreviewing) StartPreview();
        return false;
    }
    captureStartTime_ = ::timeGetTime();
    elapsedTime_ = 0;
    captureTimer_->SetEnabled(true);
    state_ = TGraphState::Capturing;
    Raise(OnStartCapture);
    return true;
}

bool TGDirectCapPin2::BeginCapture() {
    captureTimer_->SetEnabled(false);
    if (Previewing()) StopPreview();
    if (start_.StopAsked) return false;
    // A recording graph left from the last recording would write into that recording's
    // file again: a fresh graph gets a new name (and a name reserved by a graph that never
    // ran is given up).
    if (state_ == TGraphState::CaptureBuilt) {
        DropEmptyFile(captureFileName_);
        TearDownGraph();
    }
    if (!filtersReady_ || !BuildCaptureGraph() || state_ != TGraphState::CaptureBuilt) return false;
    EnableCallbacks(true);
    const auto fail = [this](IMediaControl* Control, int Code) {
        if (Control) Control->Stop();
        StopEachFilter();
        // Nothing was recorded, but a writer that got as far as pausing has put a header
        // into the reserved file: the writers let go of it and it goes whole.
        const std::wstring unused = captureFileName_;
        TearDownGraph();
        if (!unused.empty()) ::DeleteFileW(ExtendedPath(unused).c_str());
        EnableCallbacks(false);
        // A start ended on purpose is no failure.
        if (Code && !start_.StopAsked) Error(Code);
        return false;
    };
    // The build serviced the message queue: a StopCapture then ends the start here.
    if (start_.StopAsked) return fail(nullptr, 0);
    // Held: the wait for the camera services the message queue.
    const ComPtr<ICaptureGraphBuilder2> builder = graph_.Builder;
    REFERENCE_TIME never = MAXLONGLONG;
    const bool streamControl = SUCCEEDED(
        builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, nullptr, 0, 0));
    ComPtr<IMediaControl> control;
    if (FAILED(graph_.Graph.As(&control))) return fail(nullptr, ErrNoMediaControl);
    NoteStreamFrameSize();
    try {
        if (streamControl) {
            // The preview flows at once; the file gets frames from the moment the
            // capture pin is let go.
            if (FAILED(control->Run()) || !CameraRuns() || start_.StopAsked)
                return fail(control.Get(), ErrRunCapture);
            builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, nullptr, &never, 0, 0);
        } else if (FAILED(control->Pause()) || FAILED(control->Run()) || !CameraRuns() ||
                   start_.StopAsked) {
            return fail(control.Get(), ErrRunCapture);
        }
    } catch (...) {
        Log("capture", "the recording could not start: out of memory");
        return fail(control.Get(), 0);
    }
    return true;
}

void TGDirectCapPin2::CaptureTimerTick() {
    elapsedTime_ = ::timeGetTime() - captureStartTime_;
    if (!Capturing()) {
        captureTimer_->SetEnabled(false);
        return;
    }
    if (capTimeLimit_ != 0 && elapsedTime_ / 1000 >= capTimeLimit_) {
        auto alive = AliveToken();
        StopCapture();
        if (!alive.expired() && WantPreview) StartPreview();
        return;
    }
    Raise(OnCaptureProgress, elapsedTime_ / 1000);
}

bool TGDirectCapPin2::StopCapture() {
    if (start_.Running) {
        // A start still under way (this runs from one of its waits) ends as soon as that
        // wait returns: nothing recorded, nothing reported, no file left.
        start_.StopAsked = true;
        return true;
    }
    if (!Capturing()) return false;
    EnableCallbacks(false);
    captureTimer_->SetEnabled(false);
    state_ = TGraphState::CaptureBuilt;
    ComPtr<IMediaControl> control;
    HRESULT stopped = graph_.Graph ? graph_.Graph.As(&control) : E_POINTER;
    if (SUCCEEDED(stopped)) stopped = control->Stop();
    if (FAILED(stopped)) {
        Fail(ErrStopGraph, "IMediaControl::Stop of the recording", stopped, captureFileName_);
        return false;
    }
    CompactCaptureFile();
    if (HandleAllocated()) Invalidate();
    Raise(OnStopCapture);
    return true;
}

bool TGDirectCapPin2::CompactCaptureFile() {
    // Compaction copies an AVI capture file; a Windows Media file is written final.
    if (captureFileName_.empty() || CaptureFileKind(captureFileName_) != TCaptureFileKind::Avi)
        return false;
    try {
        ComPtr<ICaptureGraphBuilder2> builder;
        if (FAILED(MakeCaptureGraphBuilder(nullptr, builder))) return false;
        // A copy onto itself that fails halfway would destroy the recording: copy beside
        // it and put the copy in its place only when it is whole (Esc aborts with S_FALSE).
        std::wstring file = ExtendedPath(captureFileName_);
        std::wstring copy = ExtendedPath(captureFileName_ + L".compact");
        ::DeleteFileW(copy.c_str());
        const HRESULT hr = builder->CopyCaptureFile(file.data(), copy.data(), TRUE, nullptr);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool whole = hr == S_OK &&
                           ::GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data) &&
                           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
        if (whole && ::MoveFileExW(copy.c_str(), file.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        ::DeleteFileW(copy.c_str());
        // The recording stays as it was written, uncompacted but whole.
        LogFailure("recording", "ICaptureGraphBuilder2::CopyCaptureFile", hr == S_OK ? E_FAIL : hr,
                   captureFileName_);
    } catch (...) {
        // Out of memory for the paths: the recording stays as written.
    }
    return false;
}
