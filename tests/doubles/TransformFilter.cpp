#include "tests/doubles/TransformFilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "standins/vcam/ComObject.h"
#include "standins/vcam/ListEnumerator.h"

namespace doubles {

namespace {

using vcam::PinEnumerator;

HRESULT GiveConnectionType(const ComPtr<IPin>& peer, const MediaType& type, AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (!peer) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return vcam::CopyMediaTypeContents(*mt, *type);
}

HRESULT GivePeer(const ComPtr<IPin>& peer, IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = peer.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

bool Complete(const AM_MEDIA_TYPE* mt) {
    return mt && mt->majortype != GUID_NULL && mt->subtype != GUID_NULL &&
           mt->formattype != GUID_NULL && mt->pbFormat;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Input pin

STDMETHODIMP TransformInputPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
    } else if (iid == IID_IMemInputPin) {
        *out = static_cast<IMemInputPin*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) TransformInputPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) TransformInputPin::Release() { return filter_.Release(); }

STDMETHODIMP TransformInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    std::lock_guard hold(filter_.lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    // A filter's connections change only while it is stopped.
    if (filter_.state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (filter_.CheckInputType(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = connector;
    mt_ = MediaType(*mt);
    return S_OK;
}

STDMETHODIMP TransformInputPin::Disconnect() {
    ComPtr<IPin> peer;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard hold(filter_.lock_);
        if (filter_.state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!peer_) return S_FALSE;
        peer.Swap(peer_);
        allocator.Swap(allocator_);
        mt_.Clear();
    }
    return S_OK;
}

STDMETHODIMP TransformInputPin::ConnectedTo(IPin** pin) {
    std::lock_guard hold(filter_.lock_);
    return GivePeer(peer_, pin);
}

STDMETHODIMP TransformInputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    std::lock_guard hold(filter_.lock_);
    return GiveConnectionType(peer_, mt_, mt);
}

STDMETHODIMP TransformInputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, L"XForm In", MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP TransformInputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP TransformInputPin::QueryId(LPWSTR* id) { return vcam::GiveCoTaskString(L"In", id); }

STDMETHODIMP TransformInputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return filter_.CheckInputType(*mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP TransformInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    // The input proposes nothing: the upstream pin's types decide.
    return vcam::CreateMediaTypeEnumerator({}, types);
}

STDMETHODIMP TransformInputPin::EndOfStream() {
    ComPtr<IPin> next;
    {
        std::lock_guard hold(filter_.lock_);
        next = filter_.output_.peer_;
    }
    return next ? next->EndOfStream() : S_OK;
}

STDMETHODIMP TransformInputPin::BeginFlush() {
    ComPtr<IPin> next;
    {
        std::lock_guard hold(filter_.lock_);
        flushing_ = true;
        next = filter_.output_.peer_;
    }
    return next ? next->BeginFlush() : S_OK;
}

STDMETHODIMP TransformInputPin::EndFlush() {
    ComPtr<IPin> next;
    {
        std::lock_guard hold(filter_.lock_);
        flushing_ = false;
        next = filter_.output_.peer_;
    }
    return next ? next->EndFlush() : S_OK;
}

STDMETHODIMP TransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    ComPtr<IPin> next;
    {
        std::lock_guard hold(filter_.lock_);
        next = filter_.output_.peer_;
    }
    return next ? next->NewSegment(start, stop, rate) : S_OK;
}

STDMETHODIMP TransformInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    std::lock_guard hold(filter_.lock_);
    if (!allocator_) {
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&allocator_));
        if (FAILED(hr)) return hr;
    }
    *allocator = allocator_.Get();
    (*allocator)->AddRef();
    return S_OK;
}

STDMETHODIMP TransformInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    std::lock_guard hold(filter_.lock_);
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP TransformInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    return filter_.Deliver(sample);
}

STDMETHODIMP TransformInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    if (!samples || !done) return E_POINTER;
    *done = 0;
    HRESULT hr = S_OK;
    while (*done < count && (hr = Receive(samples[*done])) == S_OK) ++*done;
    return hr;
}

// ---------------------------------------------------------------------------------------
// Output pin

STDMETHODIMP TransformOutputPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) TransformOutputPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) TransformOutputPin::Release() { return filter_.Release(); }

STDMETHODIMP TransformOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin) return E_POINTER;
    std::lock_guard hold(filter_.lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    // A transform filter's output connects only once its input has: the output types come
    // from the input's.
    if (!filter_.input_.peer_) return E_UNEXPECTED;
    PIN_DIRECTION dir;
    if (FAILED(receivePin->QueryDirection(&dir)) || dir != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    const AM_MEDIA_TYPE& in = *filter_.input_.mt_;
    if (Complete(mt)) {
        if (filter_.CheckTransform(in, *mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        return TryConnection(receivePin, MediaType(*mt));
    }
    for (const MediaType& candidate : filter_.OutputTypes(in)) {
        if (vcam::MatchesPartial(mt, *candidate) && SUCCEEDED(TryConnection(receivePin, candidate)))
            return S_OK;
    }
    ComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(receivePin->EnumMediaTypes(&theirs)) && theirs) {
        AM_MEDIA_TYPE* proposal = nullptr;
        while (theirs->Next(1, &proposal, nullptr) == S_OK && proposal) {
            MediaType offered(*proposal);
            vcam::DeleteMediaType(proposal);
            proposal = nullptr;
            if (Complete(offered.get()) && vcam::MatchesPartial(mt, *offered) &&
                filter_.CheckTransform(in, *offered) == S_OK &&
                SUCCEEDED(TryConnection(receivePin, offered)))
                return S_OK;
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT TransformOutputPin::TryConnection(IPin* receivePin, const MediaType& mt) {
    peer_ = receivePin;
    mt_ = mt;
    auto undo = [this] {
        peer_.Reset();
        input_.Reset();
        allocator_.Reset();
        mt_.Clear();
    };
    HRESULT hr = receivePin->ReceiveConnection(this, mt.get());
    if (FAILED(hr)) {
        undo();
        return hr;
    }
    ComPtr<IMemInputPin> input;
    hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
    const VIDEOINFOHEADER* vih = VideoInfo(*mt);
    const long size = vih ? static_cast<long>(vih->bmiHeader.biSizeImage) : mt->lSampleSize;
    ALLOCATOR_PROPERTIES wanted{};
    if (SUCCEEDED(hr)) input->GetAllocatorRequirements(&wanted);
    ALLOCATOR_PROPERTIES request{};
    request.cBuffers = std::max(wanted.cBuffers, 1L);
    request.cbBuffer = std::max(wanted.cbBuffer, size);
    request.cbAlign = std::max(wanted.cbAlign, 1L);
    request.cbPrefix = wanted.cbPrefix;
    ComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES actual{};
    const auto sized = [&](IMemAllocator* a) {
        return SUCCEEDED(a->SetProperties(&request, &actual)) && actual.cbBuffer >= size &&
               SUCCEEDED(input->NotifyAllocator(a, FALSE));
    };
    if (SUCCEEDED(hr)) {
        if (FAILED(input->GetAllocator(&allocator)) || !allocator || !sized(allocator.Get())) {
            allocator.Reset();
            hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&allocator));
            if (SUCCEEDED(hr) && !sized(allocator.Get())) hr = VFW_E_SIZENOTSET;
        }
    }
    if (FAILED(hr)) {
        receivePin->Disconnect();
        undo();
        return hr;
    }
    input_ = input;
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP TransformOutputPin::Disconnect() {
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard hold(filter_.lock_);
        if (filter_.state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!peer_) return S_FALSE;
        peer.Swap(peer_);
        input.Swap(input_);
        allocator.Swap(allocator_);
        mt_.Clear();
    }
    return S_OK;
}

STDMETHODIMP TransformOutputPin::ConnectedTo(IPin** pin) {
    std::lock_guard hold(filter_.lock_);
    return GivePeer(peer_, pin);
}

STDMETHODIMP TransformOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    std::lock_guard hold(filter_.lock_);
    return GiveConnectionType(peer_, mt_, mt);
}

STDMETHODIMP TransformOutputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, L"XForm Out", MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP TransformOutputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP TransformOutputPin::QueryId(LPWSTR* id) { return vcam::GiveCoTaskString(L"Out", id); }

STDMETHODIMP TransformOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::lock_guard hold(filter_.lock_);
    if (!filter_.input_.peer_) return S_FALSE;
    return filter_.CheckTransform(*filter_.input_.mt_, *mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP TransformOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    std::vector<MediaType> offered;
    {
        std::lock_guard hold(filter_.lock_);
        // Nothing to offer before the input is connected.
        if (filter_.input_.peer_) offered = filter_.OutputTypes(*filter_.input_.mt_);
    }
    return vcam::CreateMediaTypeEnumerator(std::move(offered), types);
}

// ---------------------------------------------------------------------------------------
// Filter

TransformFilter::TransformFilter(const CLSID& clsid)
    : clsid_(clsid), input_(*this), output_(*this) {}

TransformFilter::~TransformFilter() = default;

STDMETHODIMP TransformFilter::QueryInterface(REFIID iid, void** out) {
    return vcam::QueryInterfaceFor(static_cast<IBaseFilter*>(this), iid, out, IID_IPersist,
                                   IID_IMediaFilter, IID_IBaseFilter);
}
STDMETHODIMP_(ULONG) TransformFilter::AddRef() { return InterlockedIncrement(&ref_); }
STDMETHODIMP_(ULONG) TransformFilter::Release() {
    const LONG ref = InterlockedDecrement(&ref_);
    if (ref == 0) delete this;
    return ref;
}

STDMETHODIMP TransformFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP TransformFilter::Stop() {
    ComPtr<IMemAllocator> in, out;
    {
        std::lock_guard hold(lock_);
        if (state_ == State_Stopped) return S_OK;
        state_ = State_Stopped;
        in = input_.allocator_;
        out = output_.allocator_;
    }
    // Decommitted, a waiting GetBuffer returns; then no sample is half done.
    if (in) in->Decommit();
    if (out) out->Decommit();
    std::lock_guard wait(receive_);
    return S_OK;
}

STDMETHODIMP TransformFilter::Pause() {
    std::lock_guard hold(lock_);
    if (state_ == State_Stopped && output_.allocator_) {
        const HRESULT hr = output_.allocator_->Commit();
        if (FAILED(hr)) return hr;
    }
    input_.flushing_ = false;
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP TransformFilter::Run(REFERENCE_TIME) {
    std::lock_guard hold(lock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP TransformFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    std::lock_guard hold(lock_);
    *state = state_;
    return S_OK;
}

STDMETHODIMP TransformFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard hold(lock_);
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP TransformFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard hold(lock_);
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

STDMETHODIMP TransformFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    auto list = std::make_shared<std::vector<ComPtr<IPin>>>();
    list->emplace_back(static_cast<IPin*>(&input_));
    list->emplace_back(static_cast<IPin*>(&output_));
    *pins = new (std::nothrow) PinEnumerator(std::move(list), 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TransformFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = wcscmp(id, L"In") == 0    ? static_cast<IPin*>(&input_)
           : wcscmp(id, L"Out") == 0 ? static_cast<IPin*>(&output_)
                                     : nullptr;
    if (!*pin) return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP TransformFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::lock_guard hold(lock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP TransformFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard hold(lock_);
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

HRESULT TransformFilter::Deliver(IMediaSample* sample) {
    std::lock_guard busy(receive_);
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> next;
    MediaType in, out;
    {
        std::lock_guard hold(lock_);
        if (!input_.peer_) return VFW_E_NOT_CONNECTED;
        // Samples are taken only while paused or running; during a flush they are dropped.
        if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
        if (input_.flushing_) return S_FALSE;
        if (!output_.input_) return S_OK;  // nothing downstream takes the result
        allocator = output_.allocator_;
        next = output_.input_;
        in = input_.mt_;
        out = output_.mt_;
    }
    ComPtr<IMediaSample> result;
    HRESULT hr = allocator->GetBuffer(&result, nullptr, nullptr, 0);
    if (FAILED(hr)) return S_FALSE;  // stopping
    hr = Transform(*in, sample, *out, result.Get());
    if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    if (timed == S_OK)
        result->SetTime(&start, &stop);
    else if (timed == VFW_S_NO_STOP_TIME)
        result->SetTime(&start, nullptr);
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        result->SetMediaTime(&mediaStart, &mediaStop);
    result->SetSyncPoint(sample->IsSyncPoint() == S_OK);
    result->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    result->SetPreroll(sample->IsPreroll() == S_OK);
    return next->Receive(result.Get());
}

// ---------------------------------------------------------------------------------------
// RGB types

int RgbBits(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_RGB24) return 24;
    if (subtype == MEDIASUBTYPE_RGB32) return 32;
    if (subtype == MEDIASUBTYPE_RGB555 || subtype == MEDIASUBTYPE_RGB565) return 16;
    return 0;
}

const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

MediaType RgbVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME interval) {
    MediaType mt;
    const bool masks = subtype == MEDIASUBTYPE_RGB565;
    // 5-6-5 pixels name their colour masks after the header.
    const ULONG size = sizeof(VIDEOINFOHEADER) + (masks ? 3 * sizeof(DWORD) : 0);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormat(size));
    if (!vih) return mt;
    const int bits = RgbBits(subtype);
    const DWORD stride = ((static_cast<DWORD>(width) * bits + 31) / 32) * 4;
    const DWORD image = stride * static_cast<DWORD>(height < 0 ? -height : height);
    vih->AvgTimePerFrame = interval;
    vih->dwBitRate =
        interval > 0 ? static_cast<DWORD>(static_cast<ULONGLONG>(image) * 8 * 10000000 / interval)
                     : 0;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = static_cast<WORD>(bits);
    vih->bmiHeader.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    vih->bmiHeader.biSizeImage = image;
    if (masks) {
        auto* m = reinterpret_cast<DWORD*>(vih + 1);
        m[0] = 0xF800;
        m[1] = 0x07E0;
        m[2] = 0x001F;
    }
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    mt->formattype = FORMAT_VideoInfo;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = image;
    return mt;
}

}  // namespace doubles
