// The stand-in camera: a capture pin offering six frame sizes in MJPG and YUY2 (or in one
// configured layout), an optional still pin named "Stop", the driver's IAMVMControl whose
// sensor switch changes the test picture, and optionally an old driver's dialogs. The filter and its pins name one property page,
// which shows the sensor and the format in use.
#include <ocidl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "standins/vcam/CameraSettings.h"
#include "standins/vcam/CameraStatus.h"
#include "standins/vcam/CaptureFilter.h"
#include "standins/vcam/ComObject.h"
#include "standins/vcam/DriverDialog.h"
#include "standins/vcam/Filters.h"
#include "standins/vcam/IAMVMControl.h"
#include "standins/vcam/TestPicture.h"
#include "standins/vcam/VCamConfig.h"
#include "standins/vcam/VideoFormats.h"

namespace vcam {

namespace {

struct FrameSize {
    LONG width;
    LONG height;
};

// Capability order as IAMStreamConfig reports it.
constexpr FrameSize kSizes[] = {{640, 480}, {352, 288}, {320, 240}, {160, 120},
                                 {1280, 720}, {1920, 1080}};
constexpr int kSizeCount = static_cast<int>(std::size(kSizes));

DWORD ImageBytes(const FrameSize& size, const VideoSubtype& subtype) {
    return ImageBytes(subtype.layout, size.width, size.height);
}

HRESULT GetCameraPages(CAUUID* pages) {
    if (!pages) {
        return E_POINTER;
    }
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->pElems[0] = CLSID_OrvixTestCameraPage;
    pages->cElems = 1;
    return S_OK;
}

MediaType MakeVideoType(const FrameSize& size, const VideoSubtype& subtype,
                        REFERENCE_TIME interval) {
    MediaType mt;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormat(sizeof(VIDEOINFOHEADER)));
    if (!vih) {
        return mt;
    }
    const DWORD image = ImageBytes(size, subtype);
    // rcSource and rcTarget stay empty: the whole picture.
    vih->dwBitRate = static_cast<DWORD>(static_cast<ULONGLONG>(image) * 8 * 10000000 / interval);
    vih->AvgTimePerFrame = interval;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = size.width;
    vih->bmiHeader.biHeight = size.height;  // RGB rows bottom-up; YUV always top-down
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = subtype.bitCount;
    vih->bmiHeader.biCompression = subtype.compression;
    vih->bmiHeader.biSizeImage = image;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype.subtype;
    // Each JPEG picture has its own length; every other layout a fixed one.
    const bool compressed = subtype.layout == Layout::Mjpg;
    mt->bFixedSizeSamples = compressed ? FALSE : TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = compressed ? 0 : image;
    mt->formattype = FORMAT_VideoInfo;
    return mt;
}

class VideoPin final : public CapturePin, public ISpecifyPropertyPages {
public:
    VideoPin(CaptureFilter& filter, const wchar_t* name, const GUID& category,
             const std::vector<Layout>& layouts, bool triggered, const std::atomic<LONG>& sensor)
        : CapturePin(filter, name, category),
          layouts_(layouts),
          triggered_(triggered),
          sensor_(sensor) {}

    // The stream format page is the camera's page too: a caller holding the pin's
    // IAMStreamConfig asks the pin for pages.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out && iid == IID_ISpecifyPropertyPages) {
            *out = static_cast<ISpecifyPropertyPages*>(this);
            AddRef();
            return S_OK;
        }
        return CapturePin::QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CapturePin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CapturePin::Release(); }

    STDMETHODIMP GetPages(CAUUID* pages) override { return GetCameraPages(pages); }

protected:
    // Every frame size in each layout, layout by layout.
    int CapabilityCount() const override { return static_cast<int>(layouts_.size()) * kSizeCount; }
    int CapabilitySize() const override { return sizeof(VIDEO_STREAM_CONFIG_CAPS); }

    MediaType Capability(int index, BYTE* caps) const override {
        const FrameSize& size = kSizes[index % kSizeCount];
        const VideoSubtype& subtype = SubtypeOf(layouts_[index / kSizeCount]);
        if (caps) {
            VIDEO_STREAM_CONFIG_CAPS c{};
            c.guid = FORMAT_VideoInfo;
            c.VideoStandard = AnalogVideo_None;
            c.InputSize = {size.width, size.height};
            c.MinCroppingSize = c.MaxCroppingSize = c.InputSize;
            c.CropGranularityX = c.CropGranularityY = 1;
            c.CropAlignX = c.CropAlignY = 1;
            c.MinOutputSize = c.MaxOutputSize = c.InputSize;
            c.OutputGranularityX = c.OutputGranularityY = 1;
            c.MinFrameInterval = kMinFrameInterval;
            c.MaxFrameInterval = kMaxFrameInterval;
            const LONGLONG bitsPerFrame =
                static_cast<LONGLONG>(ImageBytes(size, subtype)) * 8;
            c.MinBitsPerSecond = static_cast<LONG>(bitsPerFrame * 10000000 / kMaxFrameInterval);
            c.MaxBitsPerSecond = static_cast<LONG>(bitsPerFrame * 10000000 / kMinFrameInterval);
            std::memcpy(caps, &c, sizeof(c));
        }
        return MakeVideoType(size, subtype, kDefaultFrameInterval);
    }

    // Offered means: one of the camera's subtypes with its compression code and bit depth,
    // one of the sizes (positive height), and a frame interval in range (0: the default). The image
    // size and bit rate are recomputed.
    MediaType Normalize(const AM_MEDIA_TYPE& mt) const override {
        const VideoSubtype* subtype = SubtypeWithGuid(mt.subtype);
        if (mt.majortype != MEDIATYPE_Video || !subtype || !Offers(subtype->layout) ||
            mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER) ||
            !mt.pbFormat) {
            return MediaType();
        }
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        const BITMAPINFOHEADER& bmi = vih->bmiHeader;
        if (bmi.biCompression != subtype->compression || bmi.biBitCount != subtype->bitCount) {
            return MediaType();
        }
        REFERENCE_TIME interval = vih->AvgTimePerFrame;
        if (interval == 0) {
            interval = kDefaultFrameInterval;
        }
        if (interval < kMinFrameInterval || interval > kMaxFrameInterval) {
            return MediaType();
        }
        for (const FrameSize& size : kSizes) {
            if (bmi.biWidth == size.width && bmi.biHeight == size.height) {
                return MakeVideoType(size, *subtype, interval);
            }
        }
        return MediaType();
    }

    long SampleBytes(const AM_MEDIA_TYPE& mt) const override {
        if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) &&
            mt.pbFormat) {
            return static_cast<long>(
                reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biSizeImage);
        }
        return static_cast<long>(mt.lSampleSize);
    }

    long BufferCount() const override { return 3; }
    bool TriggeredOnly() const override { return triggered_; }

    void BeginStream(const AM_MEDIA_TYPE& mt) override {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        interval_ = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : kDefaultFrameInterval;
        const VideoSubtype* subtype = SubtypeWithGuid(mt.subtype);
        picture_.Configure(vih->bmiHeader.biWidth, vih->bmiHeader.biHeight,
                           subtype ? subtype->layout : Layout::Rgb24);
    }

    REFERENCE_TIME UnitStart(uint64_t k) const override {
        return static_cast<REFERENCE_TIME>(k) * interval_;
    }
    uint64_t UnitAt(REFERENCE_TIME t) const override {
        return t <= 0 ? 0 : static_cast<uint64_t>(t / interval_);
    }
    bool DeliverAtUnitEnd() const override { return false; }

    long FillUnit(uint64_t k, BYTE* data, long capacity) override {
        return picture_.Render(k, sensor_.load() == kBackwardSensor, data, capacity);
    }

    void EndStream(uint64_t delivered) override {
        WriteSettingsDword(kValueFramesProduced, static_cast<DWORD>(delivered));
    }

private:
    bool Offers(Layout layout) const {
        return std::find(layouts_.begin(), layouts_.end(), layout) != layouts_.end();
    }

    const std::vector<Layout> layouts_;
    const bool triggered_;
    const std::atomic<LONG>& sensor_;
    REFERENCE_TIME interval_ = kDefaultFrameInterval;  // streaming thread only
    TestPicture picture_;                              // streaming thread only
};

class CameraFilter final : public CaptureFilter,
                           public IAMVMControl,
                           public IAMVfwCaptureDialogs,
                           public IAMVideoControl,
                           public ISpecifyPropertyPages,
                           public IVCamStatus {
public:
    explicit CameraFilter(const CameraSettings& settings)
        : CaptureFilter(CLSID_OrvixTestCamera, settings.failRun, settings.loseAfterMs),
          driverDialogs_(settings.driverDialogs),
          formatDialogResult_(settings.formatDialogResult) {
        SetRunNoticeWindow(settings.runNoticeWindow);
        SetFailures(ReadDriverFailures(kFailCamera));
        SetAbortAfterMs(settings.abortAfterMs);
        auto capture = std::make_unique<VideoPin>(*this, kCapturePinName, PIN_CATEGORY_CAPTURE,
                                                  settings.layouts, false, sensor_);
        capture_ = capture.get();
        AddPin(std::move(capture));
        if (settings.stillPin) {
            auto still = std::make_unique<VideoPin>(*this, kStillPinName, PIN_CATEGORY_STILL,
                                                    settings.layouts, true, sensor_);
            still_ = still.get();
            AddPin(std::move(still));
        }
        if (settings.previewPin) {
            AddPin(std::make_unique<VideoPin>(*this, kPreviewPinName, PIN_CATEGORY_PREVIEW,
                                              settings.layouts, false, sensor_));
        }
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return CaptureFilter::QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CaptureFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CaptureFilter::Release(); }

    STDMETHODIMP SetBrightness(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetBrightness(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetContrast(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetContrast(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSaturation(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetSaturation(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSharpness(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetSharpness(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetGamma(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetGamma(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMirror(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetMirror(LONG*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPowerLineFrequency(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetPowerLineFrequency(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetLed(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetLed(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRegister(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetRegister(LONG, LONG*) override { return E_NOTIMPL; }

    // Takes effect with the next frame, also while streaming.
    STDMETHODIMP SelectSensor(LONG sensor) override {
        sensor_.store(sensor);
        WriteSettingsDword(kValueLastSensor, static_cast<DWORD>(sensor));
        return S_OK;
    }

    STDMETHODIMP GetPages(CAUUID* pages) override { return GetCameraPages(pages); }

    // IAMVfwCaptureDialogs
    STDMETHODIMP HasDialog(int dialog) override { return Title(dialog) ? S_OK : S_FALSE; }
    STDMETHODIMP ShowDialog(int dialog, HWND owner) override {
        const wchar_t* title = Title(dialog);
        if (!title) return E_INVALIDARG;
        {
            std::lock_guard lock(DataLock());
            if (StateLocked() != State_Stopped) return VFW_E_NOT_STOPPED;
        }
        // The interface names no code for this: a driver has one dialog open at a time.
        if (dialogOpen_.exchange(true)) return E_UNEXPECTED;
        struct Closed {
            std::atomic<bool>& open;
            ~Closed() { open = false; }
        } closed{dialogOpen_};
        if (dialog != VfwCaptureDialog_Format) {
            int none = 0;
            return Answer(ShowDriverDialog(owner, title, {}, none));
        }
        return ShowFormatDialog(owner, title);
    }
    STDMETHODIMP SendDriverMessage(int, int, long, long) override { return E_NOTIMPL; }

    // IAMVideoControl: the still pin takes a trigger (one frame each); nothing else is
    // switchable.
    STDMETHODIMP GetCaps(IPin* pin, long* flags) override {
        if (!pin || !flags) return E_POINTER;
        if (!OwnsPin(pin)) return E_INVALIDARG;
        *flags = IsStill(pin) ? VideoControlFlag_Trigger : 0;
        return S_OK;
    }
    STDMETHODIMP SetMode(IPin* pin, long mode) override {
        if (!pin) return E_POINTER;
        if (!OwnsPin(pin)) return E_INVALIDARG;
        const long supported = IsStill(pin) ? VideoControlFlag_Trigger : 0;
        if (mode & ~supported) return E_INVALIDARG;
        if (mode & VideoControlFlag_Trigger) still_->Trigger();
        return S_OK;
    }
    STDMETHODIMP GetMode(IPin* pin, long* mode) override {
        if (!pin || !mode) return E_POINTER;
        if (!OwnsPin(pin)) return E_INVALIDARG;
        *mode = 0;
        return S_OK;
    }
    STDMETHODIMP GetCurrentActualFrameRate(IPin*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaxAvailableFrameRate(IPin*, long, SIZE, LONGLONG*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetFrameRateList(IPin*, long, SIZE, long*, LONGLONG**) override {
        return E_NOTIMPL;
    }

    // The capture pin's format as IAMStreamConfig reports it: the connection's, else the one
    // set, else the first capability.
    STDMETHODIMP GetStatus(VCamStatus* status) override {
        if (!status) {
            return E_POINTER;
        }
        ComPtr<IPin> pin;
        ComPtr<IAMStreamConfig> config;
        HRESULT hr = FindPin(kCapturePinName, &pin);
        if (SUCCEEDED(hr)) {
            hr = pin.As(&config);
        }
        AM_MEDIA_TYPE* mt = nullptr;
        if (SUCCEEDED(hr)) {
            hr = config->GetFormat(&mt);
        }
        if (FAILED(hr)) {
            return hr;
        }
        *status = VCamStatus{};
        status->sensor = sensor_.load();
        status->subtype = mt->subtype;
        if (mt->formattype == FORMAT_VideoInfo && mt->cbFormat >= sizeof(VIDEOINFOHEADER) &&
            mt->pbFormat) {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
            status->width = vih->bmiHeader.biWidth;
            status->height = vih->bmiHeader.biHeight;
        }
        DeleteMediaType(mt);
        return S_OK;
    }

protected:
    HRESULT QueryExtraInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IAMVMControl)) {
            *out = static_cast<IAMVMControl*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_ISpecifyPropertyPages) {
            *out = static_cast<ISpecifyPropertyPages*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IAMVfwCaptureDialogs && driverDialogs_) {
            *out = static_cast<IAMVfwCaptureDialogs*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IAMVideoControl) {
            *out = static_cast<IAMVideoControl*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == __uuidof(IVCamStatus)) {
            *out = static_cast<IVCamStatus*>(this);
            AddRef();
            return S_OK;
        }
        return CaptureFilter::QueryExtraInterface(iid, out);
    }

private:
    ~CameraFilter() override = default;

    bool OwnsPin(IPin* pin) {
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) return false;
        if (info.pFilter) info.pFilter->Release();
        return info.pFilter == static_cast<IBaseFilter*>(this);
    }
    bool IsStill(IPin* pin) const {
        return still_ && pin == static_cast<IPin*>(static_cast<CapturePin*>(still_));
    }

    static const wchar_t* Title(int dialog) {
        switch (dialog) {
            case VfwCaptureDialog_Format: return kFormatDialogTitle;
            case VfwCaptureDialog_Source: return kSourceDialogTitle;
            case VfwCaptureDialog_Display: return kDisplayDialogTitle;
            default: return nullptr;
        }
    }
    static HRESULT Answer(INT_PTR button) {
        if (button == IDOK) return S_OK;
        if (button == IDCANCEL) return S_FALSE;
        return E_FAIL;  // the dialog could not be made
    }

    // The frame sizes of the current subtype; the one chosen is set as SetFormat sets it.
    HRESULT ShowFormatDialog(HWND owner, const wchar_t* title) {
        AM_MEDIA_TYPE* current = nullptr;
        HRESULT hr = capture_->GetFormat(&current);
        if (FAILED(hr)) return hr;
        const VideoSubtype* subtype = SubtypeWithGuid(current->subtype);
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(current->pbFormat);
        const REFERENCE_TIME interval = vih->AvgTimePerFrame;
        std::vector<std::wstring> names;
        int chosen = 0;
        for (int i = 0; i < kSizeCount; ++i) {
            names.push_back(std::to_wstring(kSizes[i].width) + L" x " +
                            std::to_wstring(kSizes[i].height));
            if (kSizes[i].width == vih->bmiHeader.biWidth &&
                kSizes[i].height == vih->bmiHeader.biHeight)
                chosen = i;
        }
        DeleteMediaType(current);
        if (!subtype) return E_UNEXPECTED;
        const int before = chosen;
        const HRESULT answer = Answer(ShowDriverDialog(owner, title, names, chosen));
        if (answer != S_OK) return answer;
        MediaType wanted = MakeVideoType(kSizes[chosen], *subtype, interval);
        if (FAILED(formatDialogResult_)) {
            capture_->DropConnectionWithFormat(*wanted);
            return formatDialogResult_;
        }
        // A new size on a connected output needs the whole chain downstream to follow.
        // Wine's Smart Tee takes a new type at its input while its outputs keep the old one
        // (measured), so the reconnection counts as the refusal the interface documents.
        ComPtr<IPin> peer;
        if (chosen != before && SUCCEEDED(capture_->ConnectedTo(&peer))) {
            if (Failures().refuseFormat) return VFW_E_INVALIDMEDIATYPE;
            capture_->DropConnectionWithFormat(*wanted);
            return VFW_E_CANNOT_CONNECT;
        }
        hr = capture_->SetFormat(wanted.get());
        if (FAILED(hr)) return hr;
        return formatDialogResult_;
    }

    const bool driverDialogs_;
    const HRESULT formatDialogResult_;
    std::atomic<bool> dialogOpen_{false};
    VideoPin* capture_ = nullptr;  // owned by the pin list
    VideoPin* still_ = nullptr;  // owned by the pin list
    std::atomic<LONG> sensor_{1};  // the forward sensor until told otherwise
};

}  // namespace

HRESULT CreateCamera(REFIID iid, void** out) {
    return CreateObject<CameraFilter>(iid, out, ReadCameraSettings());
}

}  // namespace vcam
