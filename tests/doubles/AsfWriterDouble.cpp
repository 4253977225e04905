// The WM ASF Writer as a recording sees it with a system profile: two inputs, sound first
// and video second, a file name and mode, the profile. What it is given is left in the
// registry for tests; what it receives goes into a real file (AVI-structured: the double
// has no Windows Media encoder) that an independent reader opens.
#include "capture/ConfigAsfWriter.h"
#include "tests/doubles/AviFile.h"
#include "tests/doubles/Doubles.h"
#include "tests/doubles/FileStream.h"
#include "tests/doubles/SinkFilter.h"

namespace doubles {

namespace {

constexpr wchar_t kRecord[] = L"AsfWriter";
// A test's switch: REG_DWORD 1 under HKCU\Software\Orvix\TestDoubles\Missing named
// "WM system profiles" makes the writer know no system profile at all.
bool ProfilesMissing() {
    DWORD value = 0, size = sizeof(value);
    return ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\Missing",
                          L"WM system profiles", RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value == 1;
}
constexpr int kAudioPin = 0;
constexpr int kVideoPin = 1;

class AsfWriterDouble final : public SinkFilter, public IConfigAsfWriter {
public:
    AsfWriterDouble() : SinkFilter(CLSID_WMAsfWriter, {L"Audio Input 01", L"Video Input 01"}) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return SinkFilter::QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return SinkFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return SinkFilter::Release(); }

    STDMETHODIMP ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentProfileId(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP ConfigureFilterUsingProfileGuid(REFGUID profile) override {
        // Its inputs are those of the one system profile it knows (sound and video); any
        // other is invalid to it, as a profile its runtime lacks is to the real writer.
        if (profile != WMProfile_V80_HIGHVBRVideo || ProfilesMissing()) return E_FAIL;
        profile_ = profile;
        RecordString(kRecord, L"Profile", GuidText(profile));
        return S_OK;
    }
    STDMETHODIMP GetCurrentProfileGuid(GUID* profile) override {
        if (!profile) return E_POINTER;
        *profile = profile_;
        return S_OK;
    }
    STDMETHODIMP ConfigureFilterUsingProfile(IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentProfile(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP SetIndexMode(BOOL) override { return S_OK; }
    STDMETHODIMP GetIndexMode(BOOL* index) override {
        if (!index) return E_POINTER;
        *index = TRUE;
        return S_OK;
    }

    STDMETHODIMP SetMode(DWORD flags) override {
        const HRESULT hr = SinkFilter::SetMode(flags);
        if (SUCCEEDED(hr)) RecordDword(kRecord, L"Mode", flags);
        return hr;
    }

    bool Accepts(int pin, const AM_MEDIA_TYPE& mt) override {
        // Uncompressed only: the real writer encodes by its profile.
        if (pin == kAudioPin)
            return mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_PCM &&
                   mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat &&
                   mt.cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD);
        return mt.majortype == MEDIATYPE_Video && mt.formattype == FORMAT_VideoInfo &&
               mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER) &&
               (mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32 ||
                mt.subtype == MEDIASUBTYPE_YUY2 || mt.subtype == MEDIASUBTYPE_RGB555 ||
                mt.subtype == MEDIASUBTYPE_RGB565);
    }

    void PinConnected(int pin) override {
        RecordString(kRecord, pin == kAudioPin ? L"Input1Type" : L"Input2Type",
                     GuidText(Pin(pin).MediaType().majortype));
    }

    HRESULT Deliver(int pin, IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return E_FAIL;
        const long size = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, stop = 0;
        // The writer wants every input sample time-stamped.
        if (FAILED(sample->GetTime(&start, &stop))) return VFW_E_SAMPLE_TIME_NOT_SET;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        if (!file_.IsOpen() || size <= 0) return S_OK;
        if (pin == kVideoPin)
            file_.WriteVideo(data, static_cast<DWORD>(size), &start);
        else
            file_.WriteAudio(data, static_cast<DWORD>(size), &start);
        return S_OK;
    }

protected:
    HRESULT FilterInterface(REFIID iid, void** out) override {
        if (iid != __uuidof(IConfigAsfWriter)) return E_NOINTERFACE;
        *out = static_cast<IConfigAsfWriter*>(this);
        AddRef();
        return S_OK;
    }
    void FileNameSet() override { RecordString(kRecord, L"FileName", fileName_); }
    HRESULT Starting() override {
        if (fileName_.empty()) return E_FAIL;
        // The writer runs or pauses only with every input of its profile connected: a
        // profile with sound and video needs both (the format cannot write without sound).
        for (int i = 0; i < PinCount(); ++i) {
            if (!Pin(i).Connected()) return VFW_E_NOT_CONNECTED;
        }
        const auto* video =
            reinterpret_cast<const VIDEOINFOHEADER*>(Pin(kVideoPin).MediaType().pbFormat);
        const auto* audio =
            reinterpret_cast<const WAVEFORMATEX*>(Pin(kAudioPin).MediaType().pbFormat);
        Microsoft::WRL::ComPtr<IStream> out;
        const HRESULT hr = CreateFileStream(fileName_, out);
        if (FAILED(hr)) return hr;
        return file_.Open(out.Get(), video, audio) ? S_OK : E_FAIL;
    }
    void Stopping() override {
        const uint32_t frames = file_.VideoFrames();
        file_.Close();
        RecordDword(kRecord, L"VideoFrames", frames);
    }

private:
    ~AsfWriterDouble() override { file_.Close(); }

    GUID profile_{};
    AviFile file_;
};

}  // namespace

HRESULT CreateAsfWriter(REFIID iid, void** out) {
    return CreateAndQuery<AsfWriterDouble>(iid, out);
}

}  // namespace doubles
