// The capture control's device dialogs and property pages, the requested video and
// audio formats and how they reach the devices, and the frame sizes the camera offers.
#include "capture/GDirectCapPin2.h"

#include <olectl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using Microsoft::WRL::ComPtr;

// ---------------------------------------------------------------------------
// Dialogs and property pages

bool TGDirectCapPin2::HasPages(IUnknown* Object) {
    ComPtr<ISpecifyPropertyPages> spec;
    if (!Object || FAILED(Object->QueryInterface(IID_PPV_ARGS(&spec)))) return false;
    CAUUID pages{};
    const HRESULT hr = spec->GetPages(&pages);
    const bool any = SUCCEEDED(hr) && pages.cElems > 0;
    if (pages.pElems) ::CoTaskMemFree(pages.pElems);
    return any;
}

HRESULT TGDirectCapPin2::ShowPages(IUnknown* Object) {
    if (!Object) return E_POINTER;
    ComPtr<ISpecifyPropertyPages> spec;
    const HRESULT hr = Object->QueryInterface(IID_PPV_ARGS(&spec));
    if (FAILED(hr)) return hr;
    CAUUID pages{};
    const HRESULT got = spec->GetPages(&pages);
    if (FAILED(got)) return got;
    IUnknown* objects[] = {Object};
    // A frame that could not be shown is a failed dialog, not a shown one.
    const HRESULT shown = ::OleCreatePropertyFrame(Handle(), 0, 0, nullptr, 1, objects,
                                                   pages.cElems, pages.pElems, 0, 0, nullptr);
    if (pages.pElems) ::CoTaskMemFree(pages.pElems);
    return shown;
}

void TGDirectCapPin2::BuildDeviceOptions() {
    Options_.Clear();
    bool videoFormat = false;
    if (Devices_.CaptureDialogs) {
        if (Devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Format) == S_OK) {
            Options_.Add(OptionVideoFormat, "Video Format");
            videoFormat = true;
        }
        if (Devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Source) == S_OK)
            Options_.Add(OptionVideoSource, "Video Source");
        if (Devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Display) == S_OK)
            Options_.Add(OptionVideoDisplay, "Video Display");
    }
    if (HasPages(Devices_.Audio.Get()))
        Options_.Add(OptionAudioCaptureFilter, "Audio Capture Filter");
    if (HasPages(Devices_.VideoCompressor.Get()))
        Options_.Add(OptionVideoCompress, "Video Compress");
    if (HasPages(Devices_.AudioCompressor.Get()))
        Options_.Add(OptionAudioCompress, "Audio Compress");
    if (!Devices_.Video || videoFormat) return;
    if (HasPages(Devices_.Video.Get()))
        Options_.Add(OptionVideoCaptureFilter, "Video Capture Filter");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig).Get()))
        Options_.Add(OptionVideoCapturePin, "Video Capture Pin");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_PREVIEW, IID_IAMStreamConfig).Get()))
        Options_.Add(OptionVideoPreviewPin, "Video Preview Pin");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMTVTuner).Get()))
        Options_.Add(OptionTVTuner, "TV Tuner");
    if (Devices_.Audio && Graph_.Builder) {
        if (HasPages(Devices_.AudioConfig.Get()))
            Options_.Add(OptionAudioCapturePin, "Audio Capture Pin");
        ComPtr<IUnknown> tvAudio;
        Graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, Devices_.Audio.Get(),
                                      IID_IAMTVAudio,
                                      reinterpret_cast<void**>(tvAudio.GetAddressOf()));
        if (HasPages(tvAudio.Get())) Options_.Add(OptionTVAudio, "TV Audio");
    }
}

void TGDirectCapPin2::PauseAround(const std::function<void()>& Body) {
    const bool wasPreviewing = Previewing();
    if (wasPreviewing) StopPreview();
    Body();
    if (wasPreviewing) StartPreview();
}

void TGDirectCapPin2::TakeDeviceVideoFormat() {
    if (!Devices_.VideoConfig) return;
    MediaTypePtr mt;
    if (FAILED(Devices_.VideoConfig->GetFormat(mt.put())) || !mt.VideoInfo()) return;
    VideoFormat_ = *mt.VideoInfo();
    Requested_.FrameWidth = VideoFormat_.bmiHeader.biWidth;
    Requested_.FrameHeight = VideoFormat_.bmiHeader.biHeight;
    Requested_.VideoBitCount = VideoFormat_.bmiHeader.biBitCount;
    Requested_.VideoChanged = true;
    FitVideoWindow();
    Raise(OnVideoFormatChange);
}

// The dialogs run modal loops: every interface they are shown on is held by the caller,
// and a device choice made meanwhile waits until the dialog is closed.
HRESULT TGDirectCapPin2::RunModal(const std::function<HRESULT()>& Show) {
    PumpScope pumping(Guard_);
    return Show();
}

HRESULT TGDirectCapPin2::ShowPagesModal(const ComPtr<IUnknown>& Object) {
    return RunModal([&] { return ShowPages(Object.Get()); });
}

int TGDirectCapPin2::ShowCaptureDialog(int Kind, HWND Owner) {
    int result = 1;
    const ComPtr<IAMVfwCaptureDialogs> captureDialogs = Devices_.CaptureDialogs;
    if (!captureDialogs) return result;
    if (Kind == OptionVideoFormat) {
        PauseAround([&] {
            if (RunModal([&] {
                    return captureDialogs->ShowDialog(VfwCaptureDialog_Format, Owner);
                }) == VFW_E_CANNOT_CONNECT)
                TearDownGraph();
            const ComPtr<IAMStreamConfig> config = Devices_.VideoConfig;
            if (!config) return;
            MediaTypePtr mt;
            result = config->GetFormat(mt.put());
            if (SUCCEEDED(result) && mt.VideoInfo()) TakeDeviceVideoFormat();
        });
        return result;
    }
    const bool wasPreviewing = Previewing();
    if (wasPreviewing) StopPreview();
    const HRESULT hr = RunModal([&] {
        return captureDialogs->ShowDialog(
            Kind == OptionVideoSource ? VfwCaptureDialog_Source : VfwCaptureDialog_Display, Owner);
    });
    if (hr == S_OK) {
        if (wasPreviewing) StartPreview();
        result = 0;
    }
    return result;
}

int TGDirectCapPin2::ShowPinPages(int Kind) {
    int result = 1;
    switch (Kind) {
        case OptionVideoCapturePin:
            PauseAround([&] {
                TearDownGraph();
                result =
                    ShowPagesModal(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig));
                const ComPtr<IAMStreamConfig> stream = Devices_.VideoConfig;
                if (!stream) return;
                MediaTypePtr mt;
                if (SUCCEEDED(stream->GetFormat(mt.put())) && mt.VideoInfo())
                    TakeDeviceVideoFormat();
            });
            break;
        case OptionVideoPreviewPin:
            PauseAround([&] {
                TearDownGraph();
                result =
                    ShowPagesModal(FindCaptureInterface(PIN_CATEGORY_PREVIEW, IID_IAMStreamConfig));
            });
            break;
        default:
            PauseAround([&] { result = ShowPagesModal(Devices_.AudioConfig); });
            break;
    }
    return result;
}

int TGDirectCapPin2::ShowCompressorOptions(int Kind, HWND Owner) {
    int result = 1;
    if (Kind == OptionAudioCompress) {
        PauseAround([&] { result = ShowPagesModal(Devices_.AudioCompressor); });
        return result;
    }
    PauseAround([&] {
        if (const ComPtr<IAMVfwCompressDialogs> dialogs = Devices_.CompressDialogs) {
            RunModal([&] { return dialogs->ShowDialog(VfwCompressDialog_Config, Owner); });
            result = 1;
        } else {
            result = ShowPagesModal(Devices_.VideoCompressor);
        }
    });
    return result;
}

int TGDirectCapPin2::ShowDeviceOption(int Kind) {
    // Not from inside another of the control's waits: it may be half way through a build.
    if (!Devices_.Video || Guard_.Pumping()) return 1;
    Operation operation(Guard_);
    const HWND owner = Handle();
    switch (Kind) {
        case OptionVideoFormat:
        case OptionVideoSource:
        case OptionVideoDisplay:
            return ShowCaptureDialog(Kind, owner);
        case OptionVideoCaptureFilter:
            return ShowPagesModal(Devices_.Video);
        case OptionTVTuner:
            return ShowPagesModal(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMTVTuner));
        case OptionAudioCaptureFilter:
            return ShowPagesModal(Devices_.Audio);
        case OptionVideoCapturePin:
        case OptionVideoPreviewPin:
        case OptionAudioCapturePin:
            return ShowPinPages(Kind);
        case OptionVideoCompress:
        case OptionAudioCompress:
            return ShowCompressorOptions(Kind, owner);
        default:
            return 1;
    }
}

bool TGDirectCapPin2::ShowVideoSourcePage() {
    for (int i = 0; i < Options_.Count(); ++i) {
        if (Options_.IsKind(i, OptionVideoSource) || Options_.IsKind(i, OptionVideoCaptureFilter))
            return Options_.Execute(Options_.NameOf(i)) == 0;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Frame sizes

void TGDirectCapPin2::CollectVideoSizes() {
    Devices_.VideoConfig.Reset();
    if (Graph_.Builder && Devices_.Video)
        Graph_.Builder->FindInterface(
            &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, Devices_.Video.Get(), IID_IAMStreamConfig,
            reinterpret_cast<void**>(Devices_.VideoConfig.GetAddressOf()));
    // Sizes of a previous device are never carried over to this one.
    VideoSizes_.clear();
    if (!Devices_.VideoConfig) return;
    int count = 0, size = 0;
    if (FAILED(Devices_.VideoConfig->GetNumberOfCapabilities(&count, &size)) || count <= 0) return;
    VideoSizes_.assign(static_cast<size_t>(count), {0, 0});
    for (int i = 0; i < count; ++i) {
        // Room for any capability record the driver writes (audio ones are smaller).
        union {
            VIDEO_STREAM_CONFIG_CAPS video;
            BYTE bytes[512];
        } caps{};
        if (size > static_cast<int>(sizeof(caps))) break;
        MediaTypePtr mt;
        if (FAILED(Devices_.VideoConfig->GetStreamCaps(i, mt.put(), caps.bytes))) continue;
        if (mt && mt->formattype == FORMAT_VideoInfo)
            VideoSizes_[static_cast<size_t>(i)] = {caps.video.MaxOutputSize.cx,
                                                   caps.video.MaxOutputSize.cy};
    }
}

std::vector<std::string> TGDirectCapPin2::VideoSizeNames() const {
    std::vector<std::string> names;
    if (!Devices_.Video) return names;
    for (const auto& [w, h] : VideoSizes_) {
        // A capability without a video format has no size to offer.
        if (w == 0 && h == 0) continue;
        std::string text = std::to_string(w) + " x " + std::to_string(h);
        if (std::find(names.begin(), names.end(), text) == names.end())
            names.push_back(std::move(text));
    }
    return names;
}

namespace {

// SetFormat with the device's own media type carrying Block as its format; the type keeps
// its own block afterwards (the platform frees it).
template <typename Block>
HRESULT SetFormatWith(IAMStreamConfig* Config, AM_MEDIA_TYPE& Type, Block& Format) {
    BYTE* const own = Type.pbFormat;
    const ULONG ownSize = Type.cbFormat;
    Type.pbFormat = reinterpret_cast<BYTE*>(&Format);
    Type.cbFormat = sizeof(Format);
    const HRESULT hr = Config->SetFormat(&Type);
    Type.pbFormat = own;
    Type.cbFormat = ownSize;
    return hr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Requested formats

void TGDirectCapPin2::SetVideoFormat(int Width, int Height, double FrameRate, int16_t BitCount) {
    Requested_.FrameWidth = Width;
    Requested_.FrameHeight = Height;
    SetVideoBitCount(BitCount);
    SetVideoFrameRate(FrameRate);
}

void TGDirectCapPin2::SetAudioFormat(int SampleRate, int16_t Channels, int16_t BitsPerSample) {
    switch (SampleRate) {
        case 8000:
        case 11025:
        case 22050:
        case 44100:
            Requested_.AudioSampleRate = SampleRate;
            break;
        default:
            Requested_.AudioSampleRate = 8000;
    }
    Requested_.AudioChannels = (Channels == 1 || Channels == 2) ? Channels : 1;
    Requested_.AudioBitsPerSample = (BitsPerSample == 8 || BitsPerSample == 16) ? BitsPerSample : 8;
    Requested_.AudioChanged = true;
}

bool TGDirectCapPin2::ApplyVideoFormat() {
    MediaTypePtr mt;
    if (!Devices_.VideoConfig || FAILED(Devices_.VideoConfig->GetFormat(mt.put()))) {
        Requested_.VideoChanged = false;
        return false;
    }
    const bool wasPreviewing = Previewing();
    if (wasPreviewing) StopPreview();
    bool ok = false;
    if (const VIDEOINFOHEADER* device = mt.VideoInfo()) {
        const VIDEOINFOHEADER current = *device;
        VideoFormat_ = VIDEOINFOHEADER{};
        VideoFormat_.bmiHeader = current.bmiHeader;
        BITMAPINFOHEADER& bmi = VideoFormat_.bmiHeader;
        bmi.biSize = sizeof(BITMAPINFOHEADER);
        bmi.biWidth = Requested_.FrameWidth;
        bmi.biHeight = Requested_.FrameHeight;
        // The depth picks among RGB layouts; a YUV or compressed layout has its own, and a
        // device refuses any other (so a YUY2 or I420 camera would never change its size).
        const bool rgb = current.bmiHeader.biCompression == BI_RGB ||
                         current.bmiHeader.biCompression == BI_BITFIELDS;
        bmi.biBitCount =
            rgb ? static_cast<WORD>(Requested_.VideoBitCount) : current.bmiHeader.biBitCount;
        bmi.biSizeImage =
            static_cast<DWORD>(std::llabs(static_cast<long long>(Requested_.FrameWidth) *
                                          Requested_.FrameHeight * bmi.biBitCount / 8));
        // A rate of 0 or below has no frame interval: the device keeps its own.
        VideoFormat_.AvgTimePerFrame = Requested_.VideoFrameRate > 0
                                           ? std::llround(10000000.0 / Requested_.VideoFrameRate)
                                           : current.AvgTimePerFrame;
        const HRESULT set = SetFormatWith(Devices_.VideoConfig.Get(), *mt.get(), VideoFormat_);
        ok = SUCCEEDED(set);
        if (!ok) {
            // The device stays on its format: so do the stored record and the sizes the
            // grabber and the snapshots work with.
            VideoFormat_ = current;
            Requested_.FrameWidth = current.bmiHeader.biWidth;
            Requested_.FrameHeight = current.bmiHeader.biHeight;
            Requested_.VideoBitCount = current.bmiHeader.biBitCount;
            Fail(ErrVideoFormat, "IAMStreamConfig::SetFormat", set);
        } else {
            Requested_.FrameWidth = bmi.biWidth;
            Requested_.FrameHeight = bmi.biHeight;
            Requested_.VideoBitCount = bmi.biBitCount;
            FitVideoWindow();
            Raise(OnVideoFormatChange);
        }
    }
    Requested_.VideoChanged = false;
    if (wasPreviewing) StartPreview();
    return ok;
}

bool TGDirectCapPin2::ApplyAudioFormat() {
    if (!AudioUsable_) return false;
    bool ok = false;
    MediaTypePtr mt;
    if (Devices_.AudioConfig && SUCCEEDED(Devices_.AudioConfig->GetFormat(mt.put())) && mt) {
        if (mt->formattype == FORMAT_WaveFormatEx) {
            AudioFormat_ = WAVEFORMATEX{};
            AudioFormat_.wFormatTag = WAVE_FORMAT_PCM;
            AudioFormat_.nChannels = static_cast<WORD>(Requested_.AudioChannels);
            AudioFormat_.nSamplesPerSec = static_cast<DWORD>(Requested_.AudioSampleRate);
            AudioFormat_.wBitsPerSample = static_cast<WORD>(Requested_.AudioBitsPerSample);
            AudioFormat_.nBlockAlign =
                static_cast<WORD>(Requested_.AudioChannels * Requested_.AudioBitsPerSample / 8);
            AudioFormat_.nAvgBytesPerSec =
                static_cast<DWORD>(Requested_.AudioSampleRate) * AudioFormat_.nBlockAlign;
            const HRESULT set = SetFormatWith(Devices_.AudioConfig.Get(), *mt.get(), AudioFormat_);
            ok = SUCCEEDED(set);
            if (!ok)
                Fail(ErrAudioFormat, "IAMStreamConfig::SetFormat of the microphone", set);
            else
                Raise(OnAudioFormatChange);
        }
        if (mt->majortype != MEDIATYPE_Audio) {
            AudioUsable_ = false;
            AudioWanted_ = false;
        }
    }
    Requested_.AudioChanged = false;
    return ok;
}
