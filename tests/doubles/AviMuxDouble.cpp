// An AVI multiplexer that takes video and sound (Wine's takes video only) and writes
// through the stream that the downstream file writer's pin gives, as the platform's does.
// The settings it is given are left in the registry for tests.
#include <wrl/client.h>

#include "standins/vcam/ListEnumerator.h"
#include "tests/doubles/AviFile.h"
#include "tests/doubles/Doubles.h"
#include "tests/doubles/SinkFilter.h"

using Microsoft::WRL::ComPtr;

namespace doubles {

namespace {

constexpr wchar_t kRecord[] = L"AviMux";

AM_MEDIA_TYPE StreamType() {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Stream;
    mt.subtype = MEDIASUBTYPE_Avi;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 1;
    mt.formattype = GUID_NULL;
    return mt;
}

struct StreamTypeTraits {
    using Interface = IEnumMediaTypes;
    using Out = AM_MEDIA_TYPE;
    using Item = int;
    static HRESULT Give(const Item&, AM_MEDIA_TYPE** slot) {
        *slot = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*slot) return E_OUTOFMEMORY;
        **slot = StreamType();
        return S_OK;
    }
    static void TakeBack(AM_MEDIA_TYPE* mt) { ::CoTaskMemFree(mt); }
};
using StreamTypeEnumerator = vcam::ListEnumerator<StreamTypeTraits>;

// The multiplexer's output; its reference count is the filter's.
class MuxOutput final : public IPin {
public:
    explicit MuxOutput(IBaseFilter& filter) : filter_(filter) {}
    ~MuxOutput() { Disconnect(); }
    MuxOutput(const MuxOutput&) = delete;
    MuxOutput& operator=(const MuxOutput&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IPin) return E_NOINTERFACE;
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return filter_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return filter_.Release(); }

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override {
        if (!receiver) return E_POINTER;
        if (peer_) return VFW_E_ALREADY_CONNECTED;
        if (mt && mt->majortype != GUID_NULL && mt->majortype != MEDIATYPE_Stream)
            return VFW_E_TYPE_NOT_ACCEPTED;
        AM_MEDIA_TYPE type = StreamType();
        const HRESULT hr = receiver->ReceiveConnection(this, &type);
        if (FAILED(hr)) return hr;
        peer_ = receiver;
        return S_OK;
    }
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override {
        if (!peer_) return S_FALSE;
        peer_.Reset();
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = peer_.Get();
        if (!peer_) return VFW_E_NOT_CONNECTED;
        peer_->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
        if (!mt) return E_POINTER;
        *mt = peer_ ? StreamType() : AM_MEDIA_TYPE{};
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
        if (!info) return E_POINTER;
        info->pFilter = &filter_;
        filter_.AddRef();
        info->dir = PINDIR_OUTPUT;
        lstrcpynW(info->achName, L"AVI Out", MAX_PIN_NAME);
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override {
        if (!dir) return E_POINTER;
        *dir = PINDIR_OUTPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = static_cast<wchar_t*>(::CoTaskMemAlloc(sizeof(L"AVI Out")));
        if (!*id) return E_OUTOFMEMORY;
        memcpy(*id, L"AVI Out", sizeof(L"AVI Out"));
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
        return mt && mt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
        if (!types) return E_POINTER;
        *types = new (std::nothrow)
            StreamTypeEnumerator(std::make_shared<const std::vector<int>>(1, 0), 0);
        return *types ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // The downstream pin's stream, where it has one.
    ComPtr<IStream> Stream() const {
        ComPtr<IStream> stream;
        if (peer_) peer_.As(&stream);
        return stream;
    }

private:
    IBaseFilter& filter_;
    ComPtr<IPin> peer_;
};

class AviMuxDouble final : public SinkFilter, public IConfigAviMux, public IConfigInterleaving {
public:
    AviMuxDouble() : SinkFilter(CLSID_AviDest, {L"Input 01", L"Input 02"}), output_(*this) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return SinkFilter::QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return SinkFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return SinkFilter::Release(); }

    // IConfigAviMux
    STDMETHODIMP SetMasterStream(LONG stream) override {
        master_ = stream;
        RecordDword(kRecord, L"MasterStream", static_cast<DWORD>(stream));
        return S_OK;
    }
    STDMETHODIMP GetMasterStream(LONG* stream) override {
        if (!stream) return E_POINTER;
        *stream = master_;
        return S_OK;
    }
    STDMETHODIMP SetOutputCompatibilityIndex(BOOL old) override {
        RecordDword(kRecord, L"CompatibilityIndex", old ? 1 : 0);
        return S_OK;
    }
    STDMETHODIMP GetOutputCompatibilityIndex(BOOL* old) override {
        if (!old) return E_POINTER;
        *old = TRUE;
        return S_OK;
    }
    // IConfigInterleaving
    STDMETHODIMP put_Mode(InterleavingMode mode) override {
        mode_ = mode;
        RecordDword(kRecord, L"InterleavingMode", static_cast<DWORD>(mode));
        return S_OK;
    }
    STDMETHODIMP get_Mode(InterleavingMode* mode) override {
        if (!mode) return E_POINTER;
        *mode = mode_;
        return S_OK;
    }
    STDMETHODIMP put_Interleaving(const REFERENCE_TIME*, const REFERENCE_TIME*) override {
        return S_OK;
    }
    STDMETHODIMP get_Interleaving(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }

    // Sound must come as FORMAT_WaveFormatEx, video as FORMAT_VideoInfo.
    bool Accepts(int, const AM_MEDIA_TYPE& mt) override {
        if (mt.majortype == MEDIATYPE_Video)
            return mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
                   mt.cbFormat >= sizeof(VIDEOINFOHEADER);
        return mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_PCM &&
               mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat &&
               mt.cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD);
    }
    HRESULT Deliver(int pin, IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return E_FAIL;
        const long size = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        if (!file_.IsOpen() || size <= 0) return S_OK;
        if (Pin(pin).MediaType().majortype == MEDIATYPE_Video)
            file_.WriteVideo(data, static_cast<DWORD>(size), timed ? &start : nullptr);
        else
            file_.WriteAudio(data, static_cast<DWORD>(size), timed ? &start : nullptr);
        return S_OK;
    }

protected:
    HRESULT FilterInterface(REFIID iid, void** out) override {
        if (iid == IID_IConfigAviMux)
            *out = static_cast<IConfigAviMux*>(this);
        else if (iid == IID_IConfigInterleaving)
            *out = static_cast<IConfigInterleaving*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IPin* OutputPin() override { return &output_; }
    HRESULT Starting() override {
        // The multiplexer writes only through the stream of the pin its output is joined
        // to: with the output open (or joined to a pin without a stream) it cannot run.
        // Its inputs need not all be joined: it always keeps one spare input pin.
        ComPtr<IStream> stream = output_.Stream();
        if (!stream) return VFW_E_NOT_CONNECTED;
        const VIDEOINFOHEADER* video = nullptr;
        const WAVEFORMATEX* audio = nullptr;
        for (int i = 0; i < PinCount(); ++i) {
            if (!Pin(i).Connected()) continue;
            const AM_MEDIA_TYPE& mt = Pin(i).MediaType();
            if (mt.majortype == MEDIATYPE_Video)
                video = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            else
                audio = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        }
        if (!video) return VFW_E_NOT_CONNECTED;
        return file_.Open(stream.Get(), video, audio) ? S_OK : E_FAIL;
    }
    void Stopping() override {
        const uint32_t frames = file_.VideoFrames();
        file_.Close();
        RecordDword(kRecord, L"VideoFrames", frames);
    }

private:
    ~AviMuxDouble() override { file_.Close(); }

    MuxOutput output_;
    LONG master_ = -1;
    InterleavingMode mode_ = INTERLEAVE_NONE;
    AviFile file_;
};

}  // namespace

HRESULT CreateAviMux(REFIID iid, void** out) { return CreateAndQuery<AviMuxDouble>(iid, out); }

}  // namespace doubles
