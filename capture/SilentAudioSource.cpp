#include "capture/SilentAudioSource.h"

#include "framework/SlimLock.h"
#include "framework/Thread.h"

#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

// One buffer covers 100 ms (stream times are in 100 ns units).
constexpr REFERENCE_TIME kUnit = 1000000;
constexpr long kUnitBytes = SilenceSampleRate / 10 * SilenceChannels * (SilenceBits / 8);
constexpr wchar_t kPinName[] = L"Audio";
// Further behind than this (a pause, a starved thread), the stream skips ahead instead
// of delivering the missed buffers in a burst.
constexpr REFERENCE_TIME kMaxLag = 10 * kUnit;

WAVEFORMATEX SilenceFormat() {
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = SilenceChannels;
    wf.nSamplesPerSec = SilenceSampleRate;
    wf.wBitsPerSample = SilenceBits;
    wf.nBlockAlign = static_cast<WORD>(SilenceChannels * (SilenceBits / 8));
    wf.nAvgBytesPerSec = SilenceSampleRate * wf.nBlockAlign;
    return wf;
}

// The type with its format block in task memory, as a pin hands it out.
HRESULT FillSilenceType(AM_MEDIA_TYPE& Mt) {
    Mt = AM_MEDIA_TYPE{};
    auto* wf = static_cast<WAVEFORMATEX*>(::CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (!wf) return E_OUTOFMEMORY;
    *wf = SilenceFormat();
    Mt.majortype = MEDIATYPE_Audio;
    Mt.subtype = MEDIASUBTYPE_PCM;
    Mt.bFixedSizeSamples = TRUE;
    Mt.lSampleSize = wf->nBlockAlign;
    Mt.formattype = FORMAT_WaveFormatEx;
    Mt.cbFormat = sizeof(WAVEFORMATEX);
    Mt.pbFormat = reinterpret_cast<BYTE*>(wf);
    return S_OK;
}

// A partial type (blank fields match anything) that our one type fulfils.
bool Matches(const AM_MEDIA_TYPE& Mt) {
    if (Mt.majortype != GUID_NULL && Mt.majortype != MEDIATYPE_Audio) return false;
    if (Mt.subtype != GUID_NULL && Mt.subtype != MEDIASUBTYPE_PCM) return false;
    if (Mt.formattype == GUID_NULL) return true;
    if (Mt.formattype != FORMAT_WaveFormatEx) return false;
    if (!Mt.pbFormat || Mt.cbFormat < sizeof(PCMWAVEFORMAT)) return true;
    const WAVEFORMATEX ours = SilenceFormat();
    const auto* theirs = reinterpret_cast<const WAVEFORMATEX*>(Mt.pbFormat);
    return theirs->wFormatTag == ours.wFormatTag && theirs->nChannels == ours.nChannels &&
           theirs->nSamplesPerSec == ours.nSamplesPerSec &&
           theirs->wBitsPerSample == ours.wBitsPerSample;
}

wchar_t* CoTaskString(const wchar_t* S) {
    const size_t bytes = (wcslen(S) + 1) * sizeof(wchar_t);
    auto* out = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (out) std::memcpy(out, S, bytes);
    return out;
}

// The reference count of an object made with new and freed at its last release.
class TRefCount {
public:
    ULONG Add() { return static_cast<ULONG>(::InterlockedIncrement(&ref_)); }
    // QueryInterface's answer: Object for an interface it Knows, with a reference added.
    HRESULT Hand(bool Knows, void* Object, void** Out) {
        if (!Out) return E_POINTER;
        *Out = Knows ? Object : nullptr;
        if (!Knows) return E_NOINTERFACE;
        Add();
        return S_OK;
    }
    // True when that was the last reference.
    bool Drop(ULONG& Left) {
        const LONG ref = ::InterlockedDecrement(&ref_);
        Left = static_cast<ULONG>(ref);
        return ref == 0;
    }

private:
    LONG ref_ = 1;
};

// An enumerator over one item (the pin, or its media type); it holds the filter.
template <typename Interface, typename Item>
class TOneItemEnumerator final : public Interface {
public:
    using Give = HRESULT (*)(IBaseFilter*, Item**);
    TOneItemEnumerator(const IID& iid, IBaseFilter* Filter, Give give, ULONG Position)
        : iid_(iid), filter_(Filter), give_(give), position_(Position) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return ref_.Hand(iid == IID_IUnknown || iid == iid_, static_cast<Interface*>(this), out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ref_.Add(); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = 0;
        if (ref_.Drop(left)) delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG Count, Item** Items, ULONG* Fetched) override {
        if (!Items) return E_POINTER;
        if (Count > 1 && !Fetched) return E_INVALIDARG;
        ULONG got = 0;
        while (got < Count && position_ < 1) {
            const HRESULT hr = give_(filter_.Get(), &Items[got]);
            if (FAILED(hr)) break;
            ++got;
            ++position_;
        }
        if (Fetched) *Fetched = got;
        return got == Count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG Count) override {
        const bool all = position_ + Count <= 1;
        position_ = std::min<ULONG>(1, position_ + Count);
        return all ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) TOneItemEnumerator(iid_, filter_.Get(), give_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~TOneItemEnumerator() = default;
    TRefCount ref_;
    const IID iid_;
    ComPtr<IBaseFilter> filter_;
    Give give_;
    ULONG position_;
};

class TSilentSource;

// The output pin; its reference count is its filter's.
class TSilentPin final : public IPin {
public:
    explicit TSilentPin(TSilentSource& Filter) : filter_(Filter) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* Dir) override {
        if (!Dir) return E_POINTER;
        *Dir = PINDIR_OUTPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* Id) override {
        if (!Id) return E_POINTER;
        *Id = CoTaskString(kPinName);
        return *Id ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* Mt) override {
        return Mt && Matches(*Mt) ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

private:
    TSilentSource& filter_;
};

// State, clock and connection are guarded by one lock, which is never held while the
// streaming thread calls downstream, nor while Stop waits for that thread.
class TSilentSource final : public IBaseFilter {
public:
    TSilentSource() : pin_(*this) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        const bool knows = iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
                           iid == IID_IBaseFilter;
        return ref_.Hand(knows, static_cast<IBaseFilter*>(this), out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ref_.Add(); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = 0;
        if (ref_.Drop(left)) delete this;
        return left;
    }

    STDMETHODIMP GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_OrvixSilentAudio;
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        fw::Thread thread;
        ComPtr<IMemAllocator> allocator;
        {
            std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
            state_ = State_Stopped;
            stopping_ = true;
            allocator = allocator_;
            thread = std::move(thread_);
        }
        wake_.notify_all();
        // Decommitting releases a thread that waits for a free buffer.
        if (allocator) allocator->Decommit();
        if (thread.joinable()) thread.join();
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        const HRESULT hr = StartThreadLocked();
        if (FAILED(hr)) return hr;
        state_ = State_Paused;
        wake_.notify_all();
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME Start) override {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        const HRESULT hr = StartThreadLocked();
        if (FAILED(hr)) return hr;
        start_ = Start;
        runTick_ = ::timeGetTime();
        state_ = State_Running;
        wake_.notify_all();
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* State) override {
        if (!State) return E_POINTER;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        *State = state_;
        // Live: nothing to show while paused, and the graph must not wait for it.
        return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* Clock) override {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        clock_ = Clock;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** Clock) override {
        if (!Clock) return E_POINTER;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        *Clock = clock_.Get();
        if (*Clock) (*Clock)->AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** Pins) override {
        if (!Pins) return E_POINTER;
        *Pins = new (std::nothrow)
            TOneItemEnumerator<IEnumPins, IPin>(IID_IEnumPins, this, &TSilentSource::GivePin, 0);
        return *Pins ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** Pin) override {
        if (!Id || !Pin) return E_POINTER;
        *Pin = nullptr;
        if (wcscmp(Id, kPinName) != 0) return VFW_E_NOT_FOUND;
        return GivePin(this, Pin);
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* Info) override {
        if (!Info) return E_POINTER;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        lstrcpynW(Info->achName, name_.c_str(), MAX_FILTER_NAME);
        Info->pGraph = graph_;
        if (graph_) graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* Graph, LPCWSTR Name) override {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        graph_ = Graph;  // not held: the graph holds us
        name_ = Name ? Name : L"";
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // For the pin.
    HRESULT ConnectTo(IPin* receiver, const AM_MEDIA_TYPE* mt);
    HRESULT DisconnectPin() {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!peer_) return S_FALSE;
        peer_.Reset();
        input_.Reset();
        allocator_.Reset();
        return S_OK;
    }
    ComPtr<IPin> Peer() {
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        return peer_;
    }

private:
    ~TSilentSource() { Stop(); }

    static HRESULT GivePin(IBaseFilter* Filter, IPin** Slot) {
        *Slot = &static_cast<TSilentSource*>(Filter)->pin_;
        (*Slot)->AddRef();
        return S_OK;
    }
    static HRESULT DecideAllocator(IMemInputPin* input, ComPtr<IMemAllocator>& chosen);
    // Stopped -> paused: buffers ready and the thread waiting for the run.
    HRESULT StartThreadLocked();
    // Stream time now; false unless running.
    bool StreamTimeLocked(REFERENCE_TIME& now) const;
    void Stream();

    TRefCount ref_;
    TSilentPin pin_;
    fw::SlimRecursiveMutex lock_;
    fw::SlimCondition wake_;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    DWORD runTick_ = 0;  // for stream time when the graph has no clock
    ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    ComPtr<IPin> peer_;
    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
    bool stopping_ = false;
    fw::Thread thread_;
};

STDMETHODIMP TSilentPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IPin) return E_NOINTERFACE;
    *out = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) TSilentPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) TSilentPin::Release() { return filter_.Release(); }

STDMETHODIMP TSilentPin::Connect(IPin* Receiver, const AM_MEDIA_TYPE* Mt) {
    return filter_.ConnectTo(Receiver, Mt);
}
STDMETHODIMP TSilentPin::Disconnect() { return filter_.DisconnectPin(); }

STDMETHODIMP TSilentPin::ConnectedTo(IPin** Pin) {
    if (!Pin) return E_POINTER;
    ComPtr<IPin> peer = filter_.Peer();
    *Pin = peer.Detach();
    return *Pin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP TSilentPin::ConnectionMediaType(AM_MEDIA_TYPE* Mt) {
    if (!Mt) return E_POINTER;
    *Mt = AM_MEDIA_TYPE{};
    if (!filter_.Peer()) return VFW_E_NOT_CONNECTED;
    return FillSilenceType(*Mt);
}

STDMETHODIMP TSilentPin::QueryPinInfo(PIN_INFO* Info) {
    if (!Info) return E_POINTER;
    Info->pFilter = &filter_;
    filter_.AddRef();
    Info->dir = PINDIR_OUTPUT;
    lstrcpynW(Info->achName, kPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP TSilentPin::EnumMediaTypes(IEnumMediaTypes** Types) {
    if (!Types) return E_POINTER;
    const auto give = [](IBaseFilter*, AM_MEDIA_TYPE** Slot) -> HRESULT {
        auto* mt = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!mt) return E_OUTOFMEMORY;
        const HRESULT hr = FillSilenceType(*mt);
        if (FAILED(hr)) {
            ::CoTaskMemFree(mt);
            return hr;
        }
        *Slot = mt;
        return S_OK;
    };
    *Types = new (std::nothrow)
        TOneItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE>(IID_IEnumMediaTypes, &filter_, give, 0);
    return *Types ? S_OK : E_OUTOFMEMORY;
}

HRESULT TSilentSource::ConnectTo(IPin* Receiver, const AM_MEDIA_TYPE* Mt) {
    if (!Receiver) return E_POINTER;
    // Recursive: the receiver may ask this pin about itself while it takes the connection.
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (Mt && !Matches(*Mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    AM_MEDIA_TYPE type{};
    HRESULT hr = FillSilenceType(type);
    if (FAILED(hr)) return hr;
    hr = Receiver->ReceiveConnection(&pin_, &type);
    ::CoTaskMemFree(type.pbFormat);
    if (FAILED(hr)) return VFW_E_NO_ACCEPTABLE_TYPES;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    hr = Receiver->QueryInterface(IID_PPV_ARGS(&input));
    if (SUCCEEDED(hr)) hr = DecideAllocator(input.Get(), allocator);
    if (FAILED(hr)) {
        Receiver->Disconnect();
        return hr;
    }
    peer_ = Receiver;
    input_ = input;
    allocator_ = allocator;
    return S_OK;
}

HRESULT TSilentSource::DecideAllocator(IMemInputPin* Input, ComPtr<IMemAllocator>& Chosen) {
    ALLOCATOR_PROPERTIES wanted{};
    Input->GetAllocatorRequirements(&wanted);  // optional: zeros when not answered
    ALLOCATOR_PROPERTIES props{};
    props.cBuffers = std::max<long>(wanted.cBuffers, 4);
    props.cbBuffer = std::max<long>(wanted.cbBuffer, kUnitBytes);
    props.cbAlign = std::max<long>(wanted.cbAlign, 1);
    props.cbPrefix = wanted.cbPrefix;
    const auto tryOne = [&](IMemAllocator* Allocator) {
        ALLOCATOR_PROPERTIES actual{};
        return Allocator && SUCCEEDED(Allocator->SetProperties(&props, &actual)) &&
               actual.cbBuffer >= kUnitBytes && SUCCEEDED(Input->NotifyAllocator(Allocator, FALSE));
    };
    ComPtr<IMemAllocator> theirs;
    if (SUCCEEDED(Input->GetAllocator(&theirs)) && tryOne(theirs.Get())) {
        Chosen = theirs;
        return S_OK;
    }
    ComPtr<IMemAllocator> ours;
    HRESULT hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&ours));
    if (FAILED(hr)) return hr;
    if (!tryOne(ours.Get())) return VFW_E_NO_ALLOCATOR;
    Chosen = ours;
    return S_OK;
}

HRESULT TSilentSource::StartThreadLocked() {
    if (state_ != State_Stopped) return S_OK;
    if (!allocator_) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) return hr;
    stopping_ = false;
    try {
        thread_ = fw::Thread([this] { Stream(); });
    } catch (...) {
        allocator_->Decommit();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool TSilentSource::StreamTimeLocked(REFERENCE_TIME& now) const {
    if (state_ != State_Running) return false;
    REFERENCE_TIME clockTime = 0;
    if (clock_ && SUCCEEDED(clock_->GetTime(&clockTime)))
        now = clockTime - start_;
    else
        now = static_cast<REFERENCE_TIME>(::timeGetTime() - runTick_) * 10000;
    return true;
}

void TSilentSource::Stream() {
    uint64_t unit = 0;  // covers stream times [unit x kUnit, (unit + 1) x kUnit)
    bool discontinuity = true;
    for (;;) {
        ComPtr<IMemInputPin> input;
        ComPtr<IMemAllocator> allocator;
        {
            std::unique_lock<fw::SlimRecursiveMutex> hold(lock_);
            REFERENCE_TIME now = 0;
            for (;;) {
                if (stopping_) return;
                const REFERENCE_TIME end = static_cast<REFERENCE_TIME>(unit + 1) * kUnit;
                if (!StreamTimeLocked(now)) {
                    wake_.wait(hold);
                } else if (now < end) {
                    // Like a microphone, a buffer is handed on once its time has passed.
                    wake_.wait_for(hold, std::chrono::milliseconds((end - now) / 10000 + 1));
                } else {
                    break;
                }
            }
            if (now - static_cast<REFERENCE_TIME>(unit + 1) * kUnit > kMaxLag) {
                unit = static_cast<uint64_t>(now / kUnit) - 1;
                discontinuity = true;
            }
            input = input_;
            allocator = allocator_;
        }
        if (!input || !allocator) return;
        ComPtr<IMediaSample> sample;
        // Fails once Stop decommits the buffers; the loop then sees the stop.
        if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
            std::unique_lock<fw::SlimRecursiveMutex> hold(lock_);
            if (stopping_) return;
            ++unit;
            continue;
        }
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data)) && sample->GetSize() >= kUnitBytes) {
            std::memset(data, 0, kUnitBytes);
            sample->SetActualDataLength(kUnitBytes);
            REFERENCE_TIME start = static_cast<REFERENCE_TIME>(unit) * kUnit;
            REFERENCE_TIME stop = start + kUnit;
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
            discontinuity = false;
            // A downstream filter that refuses (stopping before us) is not ours to report.
            input->Receive(sample.Get());
        }
        ++unit;
    }
}

}  // namespace

ComPtr<IBaseFilter> CreateSilentAudioSource() {
    ComPtr<IBaseFilter> filter;
    auto* made = new (std::nothrow) TSilentSource();
    if (made) {
        filter = made;
        made->Release();  // the holder keeps the one reference it started with
    }
    return filter;
}
