// The capture control's recording: the recording graph (AVI multiplexer and file writer,
// or the WM ASF Writer), starting and stopping it, the progress timer and the capture
// file's preallocation and compaction.
#include "capture/GDirectCapPin2.h"
#include "capture/NumberedFiles.h"
#include "capture/SilentAudioSource.h"
#include "common/u_PathUtil.h"

#include <mmsystem.h>

#include <algorithm>
#include <climits>
#include <cwctype>

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
// is ever handed to a writer in overwrite mode. The empty file goes again unless Keep.
struct NameReservation {
    std::wstring FileName;
    bool Keep = false;
    ~NameReservation() {
        if (!Keep) DropEmptyFile(FileName);
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
    return Graph_ && Out && In && SUCCEEDED(Graph_->Connect(Out, In));
}

HRESULT TGDirectCapPin2::AllocateCaptureFile(uint32_t Megabytes) {
    ::DeleteFileW(CaptureFileName_.c_str());
    if (!Builder_) {
        const HRESULT hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                                              CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Builder_));
        if (FAILED(hr)) return hr;
        if (Graph_) Builder_->SetFiltergraph(Graph_.Get());
    }
    return Builder_->AllocCapFile(CaptureFileName_.c_str(), CaptureFileAllocation(Megabytes));
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
                    SUCCEEDED(sink->SetFileName(CaptureFileName_.c_str(), nullptr)) &&
                    ConnectPins(FirstPin(mux.Get(), PINDIR_OUTPUT).Get(),
                                FirstPin(writer.Get(), PINDIR_INPUT).Get());
    if (!ok) {
        if (mux) Graph_->RemoveFilter(mux.Get());
        if (writer) Graph_->RemoveFilter(writer.Get());
        return false;
    }
    Mux_ = mux;
    FileSink_ = sink;
    return true;
}

void TGDirectCapPin2::ApplyMasterStream(int Stream) {
    if (ConfigAviMux_ && SUCCEEDED(ConfigAviMux_->SetMasterStream(Stream)))
        MasterStream_ = Stream;
    else
        Error(ErrMasterStream);
}

bool TGDirectCapPin2::WireRecordingVideo(IPin* Source) {
    RecordingVideoWired_ = false;
    if (AsfWriter_) {
        // The writer's second input takes uncompressed video and encodes it by its
        // profile; the first is the sound's.
        ComPtr<IEnumPins> pins = PinsOf(AsfWriter_.Get());
        ComPtr<IPin> first = FindPinByDirection(pins.Get(), PINDIR_INPUT);
        ComPtr<IPin> second = NextPinAfter(pins.Get(), first.Get());
        RecordingVideoWired_ = ConnectPins(Source, second.Get());
    } else if (Mux_) {
        IPin* feed = Source;
        ComPtr<IPin> compressed;
        if (VideoCompressorFilter_ &&
            SUCCEEDED(Graph_->AddFilter(VideoCompressorFilter_.Get(), L"Video Compressor")) &&
            ConnectPins(Source, FirstPin(VideoCompressorFilter_.Get(), PINDIR_INPUT).Get())) {
            compressed = FirstPin(VideoCompressorFilter_.Get(), PINDIR_OUTPUT);
            feed = compressed.Get();
        }
        RecordingVideoWired_ = ConnectPins(feed, FirstPin(Mux_.Get(), PINDIR_INPUT).Get());
    }
    return RecordingVideoWired_;
}

void TGDirectCapPin2::WireCaptureAudio() {
    RecordingAudioWired_ = false;
    if (!Graph_ || !AudioFilter_) return;
    ComPtr<IPin> ao = FirstPin(AudioFilter_.Get(), PINDIR_OUTPUT);
    if (AsfWriter_) {
        // Uncompressed sound to the writer's first input; the writer encodes it.
        RecordingAudioWired_ =
            ConnectPins(ao.Get(), FirstPin(AsfWriter_.Get(), PINDIR_INPUT).Get());
    } else {
        ComPtr<IBaseFilter> mux = Mux_ ? Mux_ : FindFilterByName(L"Mux");
        ComPtr<IEnumPins> pins = PinsOf(mux.Get());
        ComPtr<IPin> first = FindPinByDirection(pins.Get(), PINDIR_INPUT);
        ComPtr<IPin> second = NextPinAfter(pins.Get(), first.Get());
        IPin* feed = ao.Get();
        ComPtr<IPin> compressed;
        if (AudioCompressorFilter_ &&
            SUCCEEDED(Graph_->AddFilter(AudioCompressorFilter_.Get(), L"Audio Compressor")) &&
            ConnectPins(ao.Get(), FirstPin(AudioCompressorFilter_.Get(), PINDIR_INPUT).Get())) {
            compressed = FirstPin(AudioCompressorFilter_.Get(), PINDIR_OUTPUT);
            feed = compressed.Get();
        }
        RecordingAudioWired_ = ConnectPins(feed, second.Get());
    }
    if (AudioGrabber_) {
        // A grabber kept from an earlier preview graph gets its type and callback again;
        // nothing feeds it here.
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Audio;
        mt.subtype = MEDIASUBTYPE_PCM;
        mt.bFixedSizeSamples = TRUE;
        mt.formattype = FORMAT_WaveFormatEx;
        mt.cbFormat = sizeof(AudioFormat_);
        mt.pbFormat = reinterpret_cast<BYTE*>(&AudioFormat_);
        if (FAILED(AudioGrabber_->SetMediaType(&mt))) Error(ErrGrabberMediaType);
        AudioGrabber_->SetBufferSamples(FALSE);
        AudioGrabber_->SetOneShot(FALSE);
        AudioCB_->Handle = HandleAllocated() ? Handle() : nullptr;
        AudioGrabber_->SetCallback(AudioCB_.get(), 0);
    }
}

bool TGDirectCapPin2::BuildCaptureGraph() {
    // Writing must keep up with the camera; nothing lowers the priority again.
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    if (Capturing_ || Previewing_) return false;
    if (CaptureGraphBuilt_) return true;
    if (!Graph_ || !VideoFilter_ || (AudioWanted_ && !AudioFilter_)) return false;
    // A preview that could not play the microphone on a speaker gave up on sound; the
    // recording still takes it from the open microphone.
    if (AudioMoniker_ && AudioFilter_) AudioWanted_ = true;
    if (VideoFileName.empty()) VideoFileName = L"capture.avi";
    const TCaptureFileKind kind = CaptureFileKind(VideoFileName);
    // A name no writer here can write ends the attempt before anything is changed.
    if (kind == TCaptureFileKind::None) return false;
    NameReservation reserved;
    {
        DWORD error = ERROR_SUCCESS;
        if (!CreateUniqueFile(VideoFileName, reserved.FileName, error)) {
            Error(ErrSetOutputFile);
            return false;
        }
    }
    CaptureFileName_ = reserved.FileName;
    // Preallocation (and compaction) are AVI capture-file facilities; a name of another
    // kind (the ASF writer makes its own file) gets none.
    if (kind == TCaptureFileKind::Avi && BufferFileSize != 0) {
        const HRESULT hr = AllocateCaptureFile(BufferFileSize);
        // A platform without preallocation records into a growing file instead.
        if (hr != S_OK && hr != E_NOTIMPL) {
            Error(ErrPreallocate);
            return false;
        }
    }
    try {
        if (PreviewGraphBuilt_) TearDownGraph();
        if (VideoFormatChanged_) ApplyVideoFormat();
        if (AudioFormatChanged_) ApplyAudioFormat();

        if (kind == TCaptureFileKind::Avi) {
            ComPtr<IBaseFilter> mux;
            ComPtr<IFileSinkFilter> sink;
            const HRESULT hr = Builder_->SetOutputFileName(&MEDIASUBTYPE_Avi,
                                                           CaptureFileName_.c_str(), &mux, &sink);
            bool madeHere = false;
            if (hr == E_NOTIMPL) {
                madeHere = MakeAviOutput();
                if (!madeHere) {
                    Error(ErrSetOutputFile);
                    TearDownGraph();
                    return false;
                }
            } else if (FAILED(hr)) {
                Error(ErrSetOutputFile);
                TearDownGraph();
                return false;
            } else {
                Mux_ = mux;
                FileSink_ = sink;
            }
            ComPtr<IFileSinkFilter2> sink2;
            if (FileSink_ && SUCCEEDED(FileSink_.As(&sink2))) sink2->SetMode(AM_FILE_OVERWRITE);
            if (!Mux_) {
                TearDownGraph();
                return false;
            }
            ConfigAviMux_.Reset();
            if (SUCCEEDED(Mux_.As(&ConfigAviMux_))) {
                ConfigAviMux_->SetOutputCompatibilityIndex(TRUE);
                ApplyMasterStream(AudioWanted_ ? 1 : -1);
            }
            ConfigInterleaving_.Reset();
            // A multiplexer made here got its mode before it was joined to its writer.
            if (SUCCEEDED(Mux_.As(&ConfigInterleaving_)) && !madeHere)
                ConfigInterleaving_->put_Mode(INTERLEAVE_CAPTURE);
        } else {
            AsfWriter_ = CreateFilter(CLSID_WMAsfWriter, L"Asf Writer");
            ComPtr<IFileSinkFilter> sink;
            if (!AsfWriter_ || FAILED(AsfWriter_.As(&sink)) ||
                FAILED(sink->SetFileName(CaptureFileName_.c_str(), nullptr))) {
                Error(ErrSetOutputFile);
                TearDownGraph();
                return false;
            }
            ComPtr<IFileSinkFilter2> sink2;
            if (SUCCEEDED(AsfWriter_.As(&sink2))) sink2->SetMode(AM_FILE_OVERWRITE);
            ComPtr<IConfigAsfWriter> config;
            if (SUCCEEDED(AsfWriter_.As(&config)))
                config->ConfigureFilterUsingProfileGuid(WMProfile_V80_HIGHVBRVideo);
        }

        // Video first: it takes the multiplexer's first input, the sound the next one.
        RecordingVideoWired_ = RecordingAudioWired_ = false;
        if (WantPreview) {
            if (!RenderPreviewStream()) Error(ErrRenderPreview);
            WirePreviewPath(false);
        } else {
            WireRecordingVideo(FirstPin(VideoFilter_.Get(), PINDIR_OUTPUT).Get());
        }
        if (!RecordingVideoWired_) {
            Error(ErrRenderCapture);
            TearDownGraph();
            return false;
        }
        if (AudioWanted_) {
            WireCaptureAudio();
            // Missing sound never stops a recording: an AVI file gets video only, a
            // Windows Media file a silent sound track.
            if (!RecordingAudioWired_) {
                Error(ErrRenderCaptureAudio);
                AudioWanted_ = false;
            }
        }
        if (AsfWriter_ && !RecordingAudioWired_) FeedSilence(Graph_.Get(), AsfWriter_.Get());
        if (WantPreview && !AttachVideoWindow()) Error(ErrCaptureVideoWindow);
        MediaEvent_.Reset();
        if (SUCCEEDED(Graph_->QueryInterface(IID_IMediaEventEx,
                                             reinterpret_cast<void**>(MediaEvent_.GetAddressOf()))))
            MediaEvent_->SetNotifyWindow(reinterpret_cast<OAHWND>(Handle()), WM_GRAPHNOTIFY, 0);
        CaptureGraphBuilt_ = true;
        reserved.Keep = true;
        return true;
    } catch (...) {
        TearDownGraph();
        return false;
    }
}

bool TGDirectCapPin2::StartCapture() {
    // Refused while recording, with the progress timer (and so the time limit) left on.
    if (Capturing_) return false;
    // Asked for from a message that a build's wait dispatched: the graph under way is not
    // torn down beneath it.
    if (Pumping_ > 0) return false;
    CaptureTimer_->SetEnabled(false);
    if (Previewing_) StopPreview();
    // A recording graph left from the last recording would write into that recording's
    // file again: a fresh graph gets a new name (and a name reserved by a graph that never
    // ran is given up).
    if (CaptureGraphBuilt_) {
        DropEmptyFile(CaptureFileName_);
        TearDownGraph();
    }
    if (!FiltersReady_ || !BuildCaptureGraph() || !CaptureGraphBuilt_) return false;
    if (VideoMoniker_) {
        VideoCB_->SetFrameCount(0);
        VideoCB_->SetEnabled(true);
    }
    if (AudioMoniker_) {
        AudioCB_->SetFrameCount(0);
        AudioCB_->SetEnabled(true);
    }
    const auto fail = [this](IMediaControl* control, int code) {
        if (control) control->Stop();
        StopEachFilter();
        // Nothing was recorded, but a writer that got as far as pausing has put a header
        // into the reserved file: the writers let go of it and it goes whole.
        const std::wstring unused = CaptureFileName_;
        TearDownGraph();
        if (!unused.empty()) ::DeleteFileW(ExtendedPath(unused).c_str());
        VideoCB_->SetEnabled(false);
        AudioCB_->SetEnabled(false);
        if (code) Error(code);
        return false;
    };
    REFERENCE_TIME never = MAXLONGLONG;
    const bool streamControl = SUCCEEDED(
        Builder_->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, nullptr, 0, 0));
    ComPtr<IMediaControl> control;
    if (FAILED(Graph_.As(&control))) return fail(nullptr, ErrNoMediaControl);
    NoteStreamFrameSize();
    try {
        if (streamControl) {
            // The preview flows at once; the file gets frames from the moment the
            // capture pin is let go.
            if (FAILED(control->Run()) || !CameraRuns()) return fail(control.Get(), ErrRunCapture);
            Builder_->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, nullptr, &never, 0, 0);
        } else if (FAILED(control->Pause()) || FAILED(control->Run()) || !CameraRuns()) {
            return fail(control.Get(), ErrRunCapture);
        }
    } catch (...) {
        return fail(control.Get(), 0);
    }
    CaptureStartTime_ = ::timeGetTime();
    ElapsedTime_ = 0;
    CaptureTimer_->SetEnabled(true);
    Capturing_ = true;
    Notify(OnStartCapture);
    return true;
}

void TGDirectCapPin2::CaptureTimerTick() {
    ElapsedTime_ = ::timeGetTime() - CaptureStartTime_;
    if (!Capturing_) {
        CaptureTimer_->SetEnabled(false);
        return;
    }
    if (CapTimeLimit_ != 0 && ElapsedTime_ / 1000 >= CapTimeLimit_) {
        auto alive = AliveToken();
        StopCapture();
        if (!alive.expired() && WantPreview) StartPreview();
        return;
    }
    const TCaptureEvent handler = OnCaptureProgress;
    if (handler && !Destroying()) handler(ElapsedTime_ / 1000);
}

bool TGDirectCapPin2::StopCapture() {
    if (!CaptureGraphBuilt_ || !Capturing_) return false;
    VideoCB_->SetEnabled(false);
    AudioCB_->SetEnabled(false);
    CaptureTimer_->SetEnabled(false);
    Capturing_ = false;
    ComPtr<IMediaControl> control;
    if (!Graph_ || FAILED(Graph_.As(&control)) || FAILED(control->Stop())) {
        Error(ErrStopGraph);
        return false;
    }
    CompactCaptureFile();
    if (HandleAllocated()) Invalidate();
    Notify(OnStopCapture);
    return true;
}

bool TGDirectCapPin2::CompactCaptureFile() {
    // Compaction copies an AVI capture file; a Windows Media file is written final.
    if (CaptureFileName_.empty() || CaptureFileKind(CaptureFileName_) != TCaptureFileKind::Avi)
        return false;
    try {
        ComPtr<ICaptureGraphBuilder2> builder;
        if (FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&builder))))
            return false;
        // A copy onto itself that fails halfway would destroy the recording: copy beside
        // it and put the copy in its place only when it is whole (Esc aborts with S_FALSE).
        const std::wstring copy = CaptureFileName_ + L".compact";
        ::DeleteFileW(copy.c_str());
        const HRESULT hr =
            builder->CopyCaptureFile(const_cast<wchar_t*>(CaptureFileName_.c_str()),
                                     const_cast<wchar_t*>(copy.c_str()), TRUE, nullptr);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool whole = hr == S_OK &&
                           ::GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data) &&
                           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
        if (whole && ::MoveFileExW(copy.c_str(), CaptureFileName_.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        ::DeleteFileW(copy.c_str());
    } catch (...) {}
    return false;
}
