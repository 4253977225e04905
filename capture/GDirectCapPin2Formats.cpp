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
    options_.Clear();
    bool videoFormat = false;
    if (devices_.CaptureDialogs) {
        if (devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Format) == S_OK) {
            options_.Add(OptionVideoFormat, "Video Format");
            videoFormat = true;
        }
        if (devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Source) == S_OK)
            options_.Add(OptionVideoSource, "Video Source");
        if (devices_.CaptureDialogs->HasDialog(VfwCaptureDialog_Display) == S_OK)
            options_.Add(OptionVideoDisplay, "Video Display");
    }
    if (HasPages(devices_.Audio.Get()))
        options_.Add(OptionAudioCaptureFilter, "Audio Capture Filter");
    if (HasPages(devices_.VideoCompressor.Get()))
        options_.Add(OptionVideoCompress, "Video Compress");
    if (HasPages(devices_.AudioCompressor.Get()))
        options_.Add(OptionAudioCompress, "Audio Compress");
    if (!devices_.Video || videoFormat) return;
    if (HasPages(devices_.Video.Get()))
        options_.Add(OptionVideoCaptureFilter, "Video Capture Filter");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig).Get()))
        options_.Add(OptionVideoCapturePin, "Video Capture Pin");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_PREVIEW, IID_IAMStreamConfig).Get()))
        options_.Add(OptionVideoPreviewPin, "Video Preview Pin");
    if (HasPages(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMTVTuner).Get()))
        options_.Add(OptionTVTuner, "TV Tuner");
    if (devices_.Audio && graph_.Builder) {
        if (HasPages(devices_.AudioConfig.Get()))
            options_.Add(OptionAudioCapturePin, "Audio Capture Pin");
        ComPtr<IUnknown> tvAudio;
        graph_.Builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, devices_.Audio.Get(),
                                      IID_IAMTVAudio,
                                      reinterpret_cast<void**>(tvAudio.GetAddressOf()));
        if (HasPages(tvAudio.Get())) options_.Add(OptionTVAudio, "TV Audio");
    }
}

void TGDirectCapPin2::PauseAround(const std::function<void()>& Body) {
    const bool wasPreviewing = Previewing();
    if (wasPreviewing) StopPreview();
    Body();
    if (wasPreviewing) StartPreview();
}

void TGDirectCapPin2::TakeDeviceVideoFormat() {
    if (!devices_.VideoConfig) return;
    TMediaTypePtr mt;
    if (FAILED(devices_.VideoConfig->GetFormat(mt.put())) || !mt.VideoInfo()) return;
    videoFormat_ = *mt.VideoInfo();
    requested_.FrameWidth = videoFormat_.bmiHeader.biWidth;
    requested_.FrameHeight = videoFormat_.bmiHeader.biHeight;
    requested_.VideoBitCount = videoFormat_.bmiHeader.biBitCount;
    requested_.VideoChanged = true;
    FitVideoWindow();
    Raise(OnVideoFormatChange);
}

// The dialogs run modal loops: every interface they are shown on is held by the caller,
// and a device choice made meanwhile waits until the dialog is closed.
HRESULT TGDirectCapPin2::RunModal(const std::function<HRESULT()>& Show) {
    TPumpScope pumping(guard_);
    return Show();
}

HRESULT TGDirectCapPin2::ShowPagesModal(const ComPtr<IUnknown>& Object) {
    return RunModal([&] { return ShowPages(Object.Get()); });
}

int TGDirectCapPin2::ShowCaptureDialog(int Kind, HWND Owner) {
    int result = 1;
    const ComPtr<IAMVfwCaptureDialogs> captureDialogs = devices_.CaptureDialogs;
    if (!captureDialogs) return result;
    if (Kind == OptionVideoFormat) {
        PauseAround([&] {
            if (RunModal([&] {
                    return captureDialogs->ShowDialog(VfwCaptureDialog_Format, Owner);
                }) == VFW_E_CANNOT_CONNECT)
                TearDownGraph();
            const ComPtr<IAMStreamConfig> config = devices_.VideoConfig;
            if (!config) return;
            TMediaTypePtr mt;
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
                const ComPtr<IAMStreamConfig> stream = devices_.VideoConfig;
                if (!stream) return;
                TMediaTypePtr mt;
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
            PauseAround([&] { result = ShowPagesModal(devices_.AudioConfig); });
            break;
    }
    return result;
}

int TGDirectCapPin2::ShowCompressorOptions(int Kind, HWND Owner) {
    int result = 1;
    if (Kind == OptionAudioCompress) {
        PauseAround([&] { result = ShowPagesModal(devices_.AudioCompressor); });
        return result;
    }
    PauseAround([&] {
        if (const ComPtr<IAMVfwCompressDialogs> dialogs = devices_.CompressDialogs) {
            RunModal([&] { return dialogs->ShowDialog(VfwCompressDialog_Config, Owner); });
            result = 1;
        } else {
            result = ShowPagesModal(devices_.VideoCompressor);
        }
    });
    return result;
}

int TGDirectCapPin2::ShowDeviceOption(int Kind) {
    // Not from inside another of the control's waits: it may be half way through a build.
    if (!devices_.Video || guard_.Pumping()) return 1;
    TOperation operation(guard_);
    const HWND owner = Handle();
    switch (Kind) {
        case OptionVideoFormat:
        case OptionVideoSource:
        case OptionVideoDisplay:
            return ShowCaptureDialog(Kind, owner);
        case OptionVideoCaptureFilter:
            return ShowPagesModal(devices_.Video);
        case OptionTVTuner:
            return ShowPagesModal(FindCaptureInterface(PIN_CATEGORY_CAPTURE, IID_IAMTVTuner));
        case OptionAudioCaptureFilter:
            return ShowPagesModal(devices_.Audio);
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
    for (int i = 0; i < options_.Count(); ++i) {
        if (options_.IsKind(i, OptionVideoSource) || options_.IsKind(i, OptionVideoCaptureFilter))
            return options_.Execute(options_.NameOf(i)) == 0;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Frame sizes

void TGDirectCapPin2::CollectVideoSizes() {
    devices_.VideoConfig.Reset();
    if (graph_.Builder && devices_.Video)
        graph_.Builder->FindInterface(
            &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, devices_.Video.Get(), IID_IAMStreamConfig,
            reinterpret_cast<void**>(devices_.VideoConfig.GetAddressOf()));
    // Sizes of a previous device are never carried over to this one.
    videoSizes_.clear();
    if (!devices_.VideoConfig) return;
    int count = 0, size = 0;
    if (FAILED(devices_.VideoConfig->GetNumberOfCapabilities(&count, &size)) || count <= 0) return;
    videoSizes_.assign(static_cast<size_t>(count), {0, 0});
    for (int i = 0; i < count; ++i) {
        // Room for any capability record the driver writes (audio ones are smaller).
        union {
            VIDEO_STREAM_CONFIG_CAPS video;
            BYTE bytes[512];
        } caps{};
        if (size > static_cast<int>(sizeof(caps))) break;
        TMediaTypePtr mt;
        if (FAILED(devices_.VideoConfig->GetStreamCaps(i, mt.put(), caps.bytes))) continue;
        if (mt && mt->formattype == FORMAT_VideoInfo)
            videoSizes_[static_cast<size_t>(i)] = {caps.video.MaxOutputSize.cx,
                                                   caps.video.MaxOutputSize.cy};
    }
}

std::vector<std::string> TGDirectCapPin2::VideoSizeNames() const {
    std::vector<std::string> names;
    if (!devices_.Video) return names;
    for (const auto& [w, h] : videoSizes_) {
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
    requested_.FrameWidth = Width;
    requested_.FrameHeight = Height;
    SetVideoBitCount(BitCount);
    SetVideoFrameRate(FrameRate);
}

void TGDirectCapPin2::SetAudioFormat(int SampleRate, int16_t Channels, int16_t BitsPerSample) {
    switch (SampleRate) {
        case 8000:
        case 11025:
        case 22050:
        case 44100:
            requested_.AudioSampleRate = SampleRate;
            break;
        default:
            requested_.AudioSampleRate = 8000;
    }
    requested_.AudioChannels = (Channels == 1 || Channels == 2) ? Channels : 1;
    requested_.AudioBitsPerSample = (BitsPerSample == 8 || BitsPerSample == 16) ? BitsPerSample : 8;
    requested_.AudioChanged = true;
}

bool TGDirectCapPin2::ApplyVideoFormat() {
    TMediaTypePtr mt;
    if (!devices_.VideoConfig || FAILED(devices_.VideoConfig->GetFormat(mt.put()))) {
        requested_.VideoChanged = false;
        return false;
    }
    const bool wasPreviewing = Previewing();
    if (wasPreviewing) StopPreview();
    bool ok = false;
    if (const VIDEOINFOHEADER* device = mt.VideoInfo()) {
        const VIDEOINFOHEADER current = *device;
        videoFormat_ = VIDEOINFOHEADER{};
        videoFormat_.bmiHeader = current.bmiHeader;
        BITMAPINFOHEADER& bmi = videoFormat_.bmiHeader;
        bmi.biSize = sizeof(BITMAPINFOHEADER);
        bmi.biWidth = requested_.FrameWidth;
        bmi.biHeight = requested_.FrameHeight;
        // The depth picks among RGB layouts; a YUV or compressed layout has its own, and a
        // device refuses any other (so a YUY2 or I420 camera would never change its size).
        const bool rgb = current.bmiHeader.biCompression == BI_RGB ||
                         current.bmiHeader.biCompression == BI_BITFIELDS;
        bmi.biBitCount =
            rgb ? static_cast<WORD>(requested_.VideoBitCount) : current.bmiHeader.biBitCount;
        bmi.biSizeImage =
            static_cast<DWORD>(std::llabs(static_cast<long long>(requested_.FrameWidth) *
                                          requested_.FrameHeight * bmi.biBitCount / 8));
        // A rate of 0 or below has no frame interval: the device keeps its own.
        videoFormat_.AvgTimePerFrame = requested_.VideoFrameRate > 0
                                           ? std::llround(10000000.0 / requested_.VideoFrameRate)
                                           : current.AvgTimePerFrame;
        const HRESULT set = SetFormatWith(devices_.VideoConfig.Get(), *mt.get(), videoFormat_);
        ok = SUCCEEDED(set);
        if (!ok) {
            // The device stays on its format: so do the stored record and the sizes the
            // grabber and the snapshots work with.
            videoFormat_ = current;
            requested_.FrameWidth = current.bmiHeader.biWidth;
            requested_.FrameHeight = current.bmiHeader.biHeight;
            requested_.VideoBitCount = current.bmiHeader.biBitCount;
            Fail(ErrVideoFormat, "IAMStreamConfig::SetFormat", set);
        } else {
            requested_.FrameWidth = bmi.biWidth;
            requested_.FrameHeight = bmi.biHeight;
            requested_.VideoBitCount = bmi.biBitCount;
            FitVideoWindow();
            Raise(OnVideoFormatChange);
        }
    }
    requested_.VideoChanged = false;
    if (wasPreviewing) StartPreview();
    return ok;
}

bool TGDirectCapPin2::ApplyAudioFormat() {
    if (!audioUsable_) return false;
    bool ok = false;
    TMediaTypePtr mt;
    if (devices_.AudioConfig && SUCCEEDED(devices_.AudioConfig->GetFormat(mt.put())) && mt) {
        if (mt->formattype == FORMAT_WaveFormatEx) {
            audioFormat_ = WAVEFORMATEX{};
            audioFormat_.wFormatTag = WAVE_FORMAT_PCM;
            audioFormat_.nChannels = static_cast<WORD>(requested_.AudioChannels);
            audioFormat_.nSamplesPerSec = static_cast<DWORD>(requested_.AudioSampleRate);
            audioFormat_.wBitsPerSample = static_cast<WORD>(requested_.AudioBitsPerSample);
            audioFormat_.nBlockAlign =
                static_cast<WORD>(requested_.AudioChannels * requested_.AudioBitsPerSample / 8);
            audioFormat_.nAvgBytesPerSec =
                static_cast<DWORD>(requested_.AudioSampleRate) * audioFormat_.nBlockAlign;
            const HRESULT set = SetFormatWith(devices_.AudioConfig.Get(), *mt.get(), audioFormat_);
            ok = SUCCEEDED(set);
            if (!ok)
                Fail(ErrAudioFormat, "IAMStreamConfig::SetFormat of the microphone", set);
            else
                Raise(OnAudioFormatChange);
        }
        if (mt->majortype != MEDIATYPE_Audio) {
            audioUsable_ = false;
            audioWanted_ = false;
        }
    }
    requested_.AudioChanged = false;
    return ok;
}
