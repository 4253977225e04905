#include "standins/vcam/CaptureFilter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include "framework/WinHandles.h"
#include "standins/vcam/CameraPresence.h"
#include "standins/vcam/ListEnumerator.h"
#include "standins/vcam/VCamConfig.h"

namespace vcam {

namespace {

// 100 ns units from the performance counter, for stream time when the graph has no clock.
REFERENCE_TIME MonotonicNow() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const LONGLONG seconds = counter.QuadPart / frequency.QuadPart;
    const LONGLONG rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// CapturePin

CapturePin::CapturePin(CaptureFilter& filter, const wchar_t* name, const GUID& category)
    : filter_(filter), name_(name), category_(category) {}

CapturePin::~CapturePin() = default;

STDMETHODIMP CapturePin::QueryInterface(REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
    } else if (iid == IID_IKsPropertySet) {
        *out = static_cast<IKsPropertySet*>(this);
    } else if (iid == IID_IAMStreamConfig && !filter_.Failures().noStreamConfig) {
        *out = static_cast<IAMStreamConfig*>(this);
    } else if (iid == IID_IAMStreamControl) {
        *out = static_cast<IAMStreamControl*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() { return filter_.AddRef(); }

STDMETHODIMP_(ULONG) CapturePin::Release() { return filter_.Release(); }

std::vector<MediaType> CapturePin::OfferedTypesLocked() const {
    std::vector<MediaType> types;
    if (!format_.Empty()) {
        types.push_back(format_);
        return types;
    }
    const int count = CapabilityCount();
    for (int i = 0; i < count; ++i) {
        MediaType mt = Capability(i, nullptr);
        if (!mt.Empty()) {
            types.push_back(std::move(mt));
        }
    }
    return types;
}

MediaType CapturePin::AcceptableLocked(const AM_MEDIA_TYPE& mt) const {
    MediaType normalized = Normalize(mt);
    if (normalized.Empty() || format_.Empty()) {
        return normalized;
    }
    // After SetFormat only that format (at any offered frame rate) connects.
    MediaType pinned = Normalize(*format_);
    if (normalized->subtype != pinned->subtype ||
        SampleBytes(*normalized) != SampleBytes(*pinned) ||
        normalized->formattype != pinned->formattype) {
        return MediaType();
    }
    if (normalized->formattype == FORMAT_VideoInfo) {
        const auto* a = reinterpret_cast<const VIDEOINFOHEADER*>(normalized->pbFormat);
        const auto* b = reinterpret_cast<const VIDEOINFOHEADER*>(pinned->pbFormat);
        if (a->bmiHeader.biWidth != b->bmiHeader.biWidth ||
            a->bmiHeader.biHeight != b->bmiHeader.biHeight) {
            return MediaType();
        }
    } else if (!normalized.SameAs(*pinned)) {
        return MediaType();
    }
    return normalized;
}

STDMETHODIMP CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin) {
        return E_POINTER;
    }
    std::lock_guard control(filter_.ControlLock());
    std::vector<MediaType> candidates;
    {
        std::lock_guard lock(filter_.DataLock());
        if (connected_) {
            return VFW_E_ALREADY_CONNECTED;
        }
        if (filter_.StateLocked() != State_Stopped) {
            return VFW_E_NOT_STOPPED;
        }
        candidates = OfferedTypesLocked();
    }
    PIN_DIRECTION direction;
    if (FAILED(receivePin->QueryDirection(&direction)) || direction != PINDIR_INPUT) {
        return VFW_E_INVALID_DIRECTION;
    }

    const bool complete = mt && mt->majortype != GUID_NULL && mt->subtype != GUID_NULL &&
                          mt->formattype != GUID_NULL && mt->pbFormat;
    if (complete) {
        MediaType accepted;
        {
            std::lock_guard lock(filter_.DataLock());
            accepted = AcceptableLocked(*mt);
        }
        if (accepted.Empty()) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        return TryConnection(receivePin, accepted);
    }

    for (const MediaType& candidate : candidates) {
        if (MatchesPartial(mt, *candidate) && SUCCEEDED(TryConnection(receivePin, candidate))) {
            return S_OK;
        }
    }
    // The downstream pin's own proposals, when they are formats this pin offers.
    ComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(receivePin->EnumMediaTypes(&theirs)) && theirs) {
        AM_MEDIA_TYPE* proposal = nullptr;
        while (theirs->Next(1, &proposal, nullptr) == S_OK && proposal) {
            MediaType offered(*proposal);
            DeleteMediaType(proposal);
            proposal = nullptr;
            if (!MatchesPartial(mt, *offered) || offered.Empty()) {
                continue;
            }
            MediaType accepted;
            {
                std::lock_guard lock(filter_.DataLock());
                accepted = AcceptableLocked(*offered);
            }
            if (!accepted.Empty() && SUCCEEDED(TryConnection(receivePin, accepted))) {
                return S_OK;
            }
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CapturePin::TryConnection(IPin* receivePin, const MediaType& mt) {
    // The downstream pin may ask for our connection (ConnectedTo, ConnectionMediaType) while
    // it accepts it, so the connection is recorded first and undone on failure.
    {
        std::lock_guard lock(filter_.DataLock());
        connected_ = receivePin;
        connectionType_ = mt;
        streamControl_ = StreamControl{};
    }
    auto undo = [this] {
        ComPtr<IPin> peer;
        std::lock_guard lock(filter_.DataLock());
        // Swap, not move: mingw-w64's ComPtr move-assignment copies and leaves the source set.
        peer.Swap(connected_);
        connectionType_.Clear();
        return peer;
    };
    HRESULT hr = receivePin->ReceiveConnection(this, mt.get());
    if (FAILED(hr)) {
        undo();
        return hr;
    }
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
    if (SUCCEEDED(hr)) {
        hr = DecideAllocator(input.Get(), *mt, allocator);
    }
    if (FAILED(hr)) {
        receivePin->Disconnect();
        undo();
        return hr;
    }
    std::lock_guard lock(filter_.DataLock());
    input_ = std::move(input);
    allocator_ = std::move(allocator);
    return S_OK;
}

HRESULT CapturePin::DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& mt,
                                    ComPtr<IMemAllocator>& allocator) {
    ALLOCATOR_PROPERTIES wanted{};
    input->GetAllocatorRequirements(&wanted);  // optional; zeros when not implemented

    ComPtr<IMemAllocator> theirs;
    if (SUCCEEDED(input->GetAllocator(&theirs)) && theirs &&
        SUCCEEDED(SizeAllocator(theirs.Get(), wanted, mt)) &&
        SUCCEEDED(input->NotifyAllocator(theirs.Get(), FALSE))) {
        allocator = std::move(theirs);
        return S_OK;
    }
    ComPtr<IMemAllocator> ours;
    HRESULT hr =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&ours));
    if (FAILED(hr)) {
        return hr;
    }
    hr = SizeAllocator(ours.Get(), wanted, mt);
    if (SUCCEEDED(hr)) {
        hr = input->NotifyAllocator(ours.Get(), FALSE);
    }
    if (FAILED(hr)) {
        return hr;
    }
    allocator = std::move(ours);
    return S_OK;
}

HRESULT CapturePin::SizeAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted,
                                  const AM_MEDIA_TYPE& mt) {
    const long needed = SampleBytes(mt);
    ALLOCATOR_PROPERTIES request{};
    request.cBuffers = std::max(wanted.cBuffers, BufferCount());
    request.cbBuffer = std::max(wanted.cbBuffer, needed);
    request.cbAlign = std::max(wanted.cbAlign, 1L);
    request.cbPrefix = std::max(wanted.cbPrefix, 0L);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&request, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer >= needed && actual.cBuffers >= 1 ? S_OK : VFW_E_SIZENOTSET;
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;  // an output pin does not receive connections
}

STDMETHODIMP CapturePin::Disconnect() {
    std::lock_guard control(filter_.ControlLock());
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard lock(filter_.DataLock());
        if (filter_.StateLocked() != State_Stopped) {
            return VFW_E_NOT_STOPPED;
        }
        if (!connected_) {
            return S_FALSE;
        }
        // Swap, not move: mingw-w64's ComPtr move-assignment copies and leaves the source set.
        peer.Swap(connected_);
        input.Swap(input_);
        allocator.Swap(allocator_);
        connectionType_.Clear();
    }
    // The references go outside the lock: their release may run other filters' code.
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    std::lock_guard lock(filter_.DataLock());
    if (!connected_) {
        *pin = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    *pin = connected_.Get();
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return E_POINTER;
    }
    std::lock_guard lock(filter_.DataLock());
    if (!connected_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaTypeContents(*mt, *connectionType_);
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) {
        return E_POINTER;
    }
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) { return GiveCoTaskString(name_.c_str(), id); }

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return E_POINTER;
    }
    std::lock_guard lock(filter_.DataLock());
    return AcceptableLocked(*mt).Empty() ? S_FALSE : S_OK;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) {
        return E_POINTER;
    }
    std::vector<MediaType> offered;
    {
        std::lock_guard lock(filter_.DataLock());
        offered = OfferedTypesLocked();
    }
    return CreateMediaTypeEnumerator(std::move(offered), types);
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CapturePin::EndOfStream() { return E_UNEXPECTED; }

STDMETHODIMP CapturePin::BeginFlush() { return E_UNEXPECTED; }

STDMETHODIMP CapturePin::EndFlush() { return E_UNEXPECTED; }

STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

STDMETHODIMP CapturePin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
    return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataLength,
                             DWORD* returned) {
    if (set != AMPROPSETID_Pin) {
        return E_PROP_SET_UNSUPPORTED;
    }
    if (id != AMPROPERTY_PIN_CATEGORY) {
        return E_PROP_ID_UNSUPPORTED;
    }
    if (!data) {
        return E_POINTER;
    }
    if (dataLength < sizeof(GUID)) {
        return E_UNEXPECTED;
    }
    std::memcpy(data, &category_, sizeof(GUID));
    if (returned) {
        *returned = sizeof(GUID);
    }
    return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) {
        return E_PROP_SET_UNSUPPORTED;
    }
    if (id != AMPROPERTY_PIN_CATEGORY) {
        return E_PROP_ID_UNSUPPORTED;
    }
    if (support) {
        *support = KSPROPERTY_SUPPORT_GET;
    }
    return S_OK;
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* mt) {
    std::lock_guard control(filter_.ControlLock());
    if (mt && filter_.Failures().refuseFormat) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    MediaType wanted;  // empty: back to offering every capability
    if (mt) {
        wanted = Normalize(*mt);
        if (wanted.Empty()) {
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    ComPtr<IPin> peer;
    MediaType previousFormat;
    MediaType previousConnection;
    {
        std::lock_guard lock(filter_.DataLock());
        if (filter_.StateLocked() != State_Stopped) {
            return VFW_E_NOT_STOPPED;
        }
        if (!connected_ || wanted.Empty() || connectionType_.SameAs(*wanted)) {
            format_ = std::move(wanted);
            return S_OK;
        }
        peer = connected_;
        previousFormat = format_;
        previousConnection = connectionType_;
    }
    // Connected with another format: when the downstream pin takes the new one, both sides
    // are disconnected and connected again with it (what the graph's Reconnect does).
    if (peer->QueryAccept(wanted.get()) != S_OK) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    peer->Disconnect();
    Disconnect();
    {
        std::lock_guard lock(filter_.DataLock());
        format_ = wanted;
    }
    HRESULT hr = TryConnection(peer.Get(), wanted);
    if (FAILED(hr)) {
        {
            std::lock_guard lock(filter_.DataLock());
            format_ = std::move(previousFormat);
        }
        TryConnection(peer.Get(), previousConnection);
    }
    return hr;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt) {
        return E_POINTER;
    }
    MediaType current;
    {
        std::lock_guard lock(filter_.DataLock());
        if (connected_) {
            current = connectionType_;
        } else if (!format_.Empty()) {
            current = format_;
        }
    }
    if (current.Empty()) {
        current = Capability(0, nullptr);
    }
    *mt = CreateMediaTypeCopy(*current);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) {
        return E_POINTER;
    }
    *count = CapabilityCount();
    *size = CapabilitySize();
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    if (!mt || !caps) {
        return E_POINTER;
    }
    *mt = nullptr;
    if (index < 0) {
        return E_INVALIDARG;
    }
    if (index >= CapabilityCount()) {
        return S_FALSE;
    }
    MediaType capability = Capability(index, caps);
    *mt = CreateMediaTypeCopy(*capability);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::Activate() {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    MediaType mt;
    {
        std::lock_guard lock(filter_.DataLock());
        if (!connected_) {
            return S_OK;
        }
        allocator = allocator_;
        input = input_;
        mt = connectionType_;
        stopping_ = false;
        inReceive_ = false;
        triggers_ = 0;
    }
    HRESULT hr = allocator->Commit();
    if (FAILED(hr)) {
        return hr;
    }
    try {
        thread_ = fw::Thread(&CapturePin::StreamLoop, this, allocator, input, std::move(mt));
    } catch (...) {
        allocator->Decommit();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CapturePin::Deactivate() {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IPin> peer;
    bool blocked = false;
    {
        std::lock_guard lock(filter_.DataLock());
        stopping_ = true;
        blocked = inReceive_;
        allocator = allocator_;
        peer = connected_;
    }
    filter_.Wake().notify_all();
    if (allocator) {
        allocator->Decommit();
    }
    if (!thread_.joinable()) {
        return;
    }
    // A paused renderer holds Receive until it runs or stops; when this filter is stopped
    // first, a flush is what lets the streaming thread return.
    if (blocked && peer) {
        peer->BeginFlush();
    }
    thread_.join();
    if (blocked && peer) {
        peer->EndFlush();
    }
}

void CapturePin::Trigger() {
    {
        std::lock_guard lock(filter_.DataLock());
        ++triggers_;
    }
    filter_.Wake().notify_all();
}

bool CapturePin::WaitForUnit(uint64_t& k, bool& discontinuity) {
    std::unique_lock lock(filter_.DataLock());
    for (;;) {
        if (stopping_) {
            return false;
        }
        if (TriggeredOnly() && triggers_ == 0) {
            discontinuity = true;  // each triggered frame stands alone
            filter_.Wake().wait(lock);
            continue;
        }
        REFERENCE_TIME now = 0;
        if (!filter_.StreamTimeLocked(now)) {
            discontinuity = true;  // paused: the next sample starts after a gap
            filter_.Wake().wait(lock);
            continue;
        }
        const REFERENCE_TIME due = DeliverAtUnitEnd() ? UnitStart(k + 1) : UnitStart(k);
        REFERENCE_TIME deadline = due;
        if (filter_.CheckLossLocked(now, deadline) || filter_.CheckAbortLocked(now, deadline)) {
            // A lost or failed device delivers nothing until it is stopped.
            filter_.Wake().wait(lock);
            continue;
        }
        if (now >= due) {
            // Units whose time has passed (while paused or held up downstream) are dropped, as
            // a real device drops frames it could not hand on.
            const uint64_t at = UnitAt(now);
            const uint64_t latest = DeliverAtUnitEnd() ? (at > 0 ? at - 1 : 0) : at;
            if (latest > k) {
                k = latest;
                discontinuity = true;
            }
            if (TriggeredOnly()) --triggers_;
            return true;
        }
        const auto wait = std::chrono::microseconds((deadline - now + 9) / 10);
        filter_.Wake().wait_for(lock, wait);
    }
}

void CapturePin::StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input,
                            MediaType mt) {
    fw::ComInit com(COINIT_MULTITHREADED);
    BeginStream(*mt);
    uint64_t k = 0;
    uint64_t delivered = 0;
    bool discontinuity = true;
    while (WaitForUnit(k, discontinuity)) {
        {
            std::lock_guard lock(filter_.DataLock());
            if (!PassesStreamControlLocked(k)) {
                discontinuity = true;
                ++k;
                continue;
            }
        }
        ComPtr<IMediaSample> sample;
        BYTE* data = nullptr;
        // GetBuffer fails once the allocator is decommitted at Stop; the loop then ends at
        // the next wait.
        if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)) ||
            FAILED(sample->GetPointer(&data))) {
            ++k;
            continue;
        }
        const long length = FillUnit(k, data, sample->GetSize());
        sample->SetActualDataLength(length);
        REFERENCE_TIME start = UnitStart(k);
        REFERENCE_TIME stop = UnitStart(k + 1);
        sample->SetTime(&start, &stop);
        LONGLONG mediaStart = static_cast<LONGLONG>(k);
        LONGLONG mediaStop = mediaStart + 1;
        sample->SetMediaTime(&mediaStart, &mediaStop);
        sample->SetSyncPoint(TRUE);
        sample->SetPreroll(FALSE);
        sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        discontinuity = false;
        {
            std::lock_guard lock(filter_.DataLock());
            if (stopping_) {
                break;
            }
            inReceive_ = true;
        }
        input->Receive(sample.Get());
        {
            std::lock_guard lock(filter_.DataLock());
            inReceive_ = false;
        }
        ++delivered;
        ++k;
    }
    EndStream(delivered);
}

bool CapturePin::PassesStreamControlLocked(uint64_t k) {
    StreamControl& c = streamControl_;
    const REFERENCE_TIME t = filter_.RunStartLocked() + UnitStart(k);
    const LONG_PTR self = reinterpret_cast<LONG_PTR>(static_cast<IPin*>(this));
    bool passes = c.Flows(t);
    if (c.stopPending && t >= c.stop) {
        // The one frame after the stop that was asked for, or the single frame of a start
        // and a stop at one time.
        if (c.sendExtra || c.start == c.stop) passes = true;
        c.stopPending = false;
        if (c.stopCookie) filter_.NotifyLocked(EC_STREAM_CONTROL_STOPPED, self, c.stopCookie);
    }
    if (passes && c.startPending && t >= c.start) {
        c.startPending = false;
        if (c.startCookie) filter_.NotifyLocked(EC_STREAM_CONTROL_STARTED, self, c.startCookie);
    }
    return passes;
}

STDMETHODIMP CapturePin::StartAt(const REFERENCE_TIME* start, DWORD cookie) {
    // Preview samples carry no times, so a preview pin cannot start at one.
    if (start && *start != MAXLONGLONG && category_ == PIN_CATEGORY_PREVIEW) return E_INVALIDARG;
    std::lock_guard lock(filter_.DataLock());
    StreamControl& c = streamControl_;
    c.startPending = false;
    c.startCookie = 0;
    if (!start) {
        c.start = MINLONGLONG;
        // Started now: a stop that has come already is over.
        if (c.stop <= filter_.ReferenceNowLocked()) {
            c.stop = MAXLONGLONG;
            c.stopPending = false;
            c.sendExtra = false;
        }
    } else if (*start == MAXLONGLONG) {
        c.start = MAXLONGLONG;
    } else {
        c.start = *start;
        c.startCookie = cookie;
        c.startPending = true;
    }
    return S_OK;
}

STDMETHODIMP CapturePin::StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) {
    if (stop && *stop != MAXLONGLONG && category_ == PIN_CATEGORY_PREVIEW) return E_INVALIDARG;
    std::lock_guard lock(filter_.DataLock());
    StreamControl& c = streamControl_;
    c.stopPending = false;
    c.stopCookie = 0;
    c.sendExtra = false;
    if (!stop) {
        c.stop = MINLONGLONG;
    } else if (*stop == MAXLONGLONG) {
        c.stop = MAXLONGLONG;
    } else {
        c.stop = *stop;
        c.sendExtra = sendExtra != FALSE;
        c.stopCookie = cookie;
        c.stopPending = true;
    }
    return S_OK;
}

STDMETHODIMP CapturePin::GetInfo(AM_STREAM_INFO* info) {
    if (!info) return E_POINTER;
    std::lock_guard lock(filter_.DataLock());
    const StreamControl& c = streamControl_;
    *info = AM_STREAM_INFO{};
    if (c.start != MINLONGLONG) {
        info->dwFlags |= AM_STREAM_INFO_START_DEFINED;
        info->tStart = c.start;
        info->dwStartCookie = c.startCookie;
    }
    if (c.stop != MAXLONGLONG) {
        info->dwFlags |= AM_STREAM_INFO_STOP_DEFINED;
        info->tStop = c.stop;
        info->dwStopCookie = c.stopCookie;
        if (c.sendExtra) info->dwFlags |= AM_STREAM_INFO_STOP_SEND_EXTRA;
    }
    if (!c.Flows(filter_.ReferenceNowLocked())) info->dwFlags |= AM_STREAM_INFO_DISCARDING;
    return S_OK;
}

HRESULT CapturePin::DropConnectionWithFormat(const AM_MEDIA_TYPE& mt) {
    std::lock_guard control(filter_.ControlLock());
    MediaType wanted = Normalize(mt);
    if (wanted.Empty()) return VFW_E_INVALIDMEDIATYPE;
    ComPtr<IPin> peer;
    {
        std::lock_guard lock(filter_.DataLock());
        if (filter_.StateLocked() != State_Stopped) return VFW_E_NOT_STOPPED;
        peer = connected_;
    }
    if (peer) {
        peer->Disconnect();
        Disconnect();
    }
    std::lock_guard lock(filter_.DataLock());
    format_ = std::move(wanted);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// CaptureFilter

CaptureFilter::CaptureFilter(const CLSID& clsid, bool failRun, DWORD loseAfterMs)
    : clsid_(clsid),
      failRun_(failRun),
      loseAfter_(static_cast<REFERENCE_TIME>(loseAfterMs) * 10000) {}

CaptureFilter::~CaptureFilter() = default;

void CaptureFilter::AddPin(std::unique_ptr<CapturePin> pin) { pins_.push_back(std::move(pin)); }

HRESULT CaptureFilter::QueryExtraInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID iid, void** out) {
    const HRESULT hr = QueryInterfaceFor(static_cast<IBaseFilter*>(this), iid, out, IID_IPersist,
                                         IID_IMediaFilter, IID_IBaseFilter);
    return hr == E_NOINTERFACE ? QueryExtraInterface(iid, out) : hr;
}

STDMETHODIMP_(ULONG) CaptureFilter::AddRef() { return InterlockedIncrement(&ref_); }

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
    const LONG ref = InterlockedDecrement(&ref_);
    if (ref == 0) {
        // The streaming threads use the derived parts, so they end before any destructor runs
        // (a graph whose Run failed may be released with its filters still paused).
        StopStreaming();
        delete this;
    }
    return ref;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
    if (!clsid) {
        return E_POINTER;
    }
    *clsid = clsid_;
    return S_OK;
}

void CaptureFilter::StopStreaming() {
    std::lock_guard control(control_);
    FILTER_STATE previous;
    {
        std::lock_guard lock(data_);
        previous = state_;
        state_ = State_Stopped;
        aborted_ = false;
    }
    wake_.notify_all();
    if (notice_.joinable()) notice_.join();
    if (previous != State_Stopped) {
        for (auto& pin : pins_) {
            pin->Deactivate();
        }
    }
}

STDMETHODIMP CaptureFilter::Stop() {
    StopStreaming();
    return failures_.stop ? kStopErrorResult : S_OK;
}

HRESULT CaptureFilter::PauseFromStopped() {
    {
        // The state changes only under the control lock, which the caller holds.
        std::lock_guard lock(data_);
        if (state_ != State_Stopped) {
            return S_OK;
        }
    }
    for (size_t i = 0; i < pins_.size(); ++i) {
        const HRESULT hr = pins_[i]->Activate();
        if (FAILED(hr)) {
            for (size_t j = 0; j <= i; ++j) {
                pins_[j]->Deactivate();
            }
            return hr;
        }
    }
    return S_OK;
}

STDMETHODIMP CaptureFilter::Pause() {
    std::lock_guard control(control_);
    const HRESULT hr = PauseFromStopped();
    if (FAILED(hr)) {
        return hr;
    }
    {
        std::lock_guard lock(data_);
        state_ = State_Paused;
    }
    wake_.notify_all();
    return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
    std::lock_guard control(control_);
    if (failRun_) {
        return kBusyResult;
    }
    {
        std::lock_guard lock(data_);
        if (lost_) {
            return kGoneResult;
        }
    }
    if (clsid_ == CLSID_OrvixTestCamera && CameraUnplugged()) {
        return kGoneResult;
    }
    const HRESULT hr = PauseFromStopped();
    if (FAILED(hr)) {
        return hr;
    }
    if (runNoticeWindow_) {
        // The start completes on a thread of the camera's own once the window has answered.
        if (notice_.joinable()) notice_.join();
        {
            std::lock_guard lock(data_);
            start_ = start;
            runTick_ = static_cast<ULONGLONG>(MonotonicNow());
            state_ = State_Paused;
        }
        notice_ = fw::Thread([this] {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(runNoticeWindow_, kRunNoticeMessage, 0, 0, SMTO_NORMAL,
                                kRunNoticeTimeoutMs, &answer);
            {
                std::lock_guard lock(data_);
                if (state_ != State_Paused) return;
                runTick_ = static_cast<ULONGLONG>(MonotonicNow());
                state_ = State_Running;
            }
            wake_.notify_all();
        });
        return S_OK;
    }
    {
        std::lock_guard lock(data_);
        start_ = start;
        runTick_ = static_cast<ULONGLONG>(MonotonicNow());
        state_ = State_Running;
    }
    wake_.notify_all();
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) {
        return E_POINTER;
    }
    std::lock_guard lock(data_);
    *state = state_;
    // A live source has nothing to show while paused; the graph must not wait for it.
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard lock(data_);
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) {
        return E_POINTER;
    }
    std::lock_guard lock(data_);
    *clock = clock_.Get();
    if (*clock) {
        (*clock)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** pins) {
    if (!pins) {
        return E_POINTER;
    }
    auto list = std::make_shared<std::vector<ComPtr<IPin>>>();
    for (auto& pin : pins_) {
        list->emplace_back(static_cast<IPin*>(pin.get()));
    }
    *pins = new (std::nothrow) PinEnumerator(std::move(list), 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    for (auto& candidate : pins_) {
        if (candidate->Name() == id) {
            *pin = candidate.get();
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    std::lock_guard lock(data_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) {
        graph_->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard control(control_);
    // Leaving a graph always succeeds: the graph goes away whatever the filter says.
    if (graph && failures_.joinGraph) {
        return E_FAIL;
    }
    ComPtr<IMediaEventSink> sink;
    if (graph) {
        graph->QueryInterface(IID_PPV_ARGS(&sink));
    }
    std::lock_guard lock(data_);
    graph_ = graph;
    sink_ = sink.Get();  // weak, like graph_
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

bool CaptureFilter::StreamTimeLocked(REFERENCE_TIME& now) const {
    if (state_ != State_Running) {
        return false;
    }
    REFERENCE_TIME clockTime = 0;
    if (clock_ && SUCCEEDED(clock_->GetTime(&clockTime))) {
        now = clockTime - start_;
    } else {
        now = MonotonicNow() - static_cast<REFERENCE_TIME>(runTick_);
    }
    return true;
}

REFERENCE_TIME CaptureFilter::ReferenceNowLocked() const {
    REFERENCE_TIME now = 0;
    if (StreamTimeLocked(now)) return start_ + now;
    if (clock_ && SUCCEEDED(clock_->GetTime(&now))) return now;
    return start_;
}

void CaptureFilter::NotifyLocked(long code, LONG_PTR param1, LONG_PTR param2) {
    // Under the data lock, so that JoinFilterGraph cannot drop the weak sink meanwhile.
    if (sink_) sink_->Notify(code, param1, param2);
}

bool CaptureFilter::CheckLossLocked(REFERENCE_TIME now, REFERENCE_TIME& deadline) {
    if (lost_) {
        return true;
    }
    // Unplugged while streaming by something else (another instance's loss, a test): the
    // device is gone for this instance too.
    const bool unpluggedElsewhere = clsid_ == CLSID_OrvixTestCamera && CameraUnplugged();
    if (!unpluggedElsewhere) {
        if (loseAfter_ <= 0 || lossSpent_) {
            return false;
        }
        if (now < loseAfter_) {
            deadline = std::min(deadline, loseAfter_);
            return false;
        }
        if (!UnplugCamera()) {
            lossSpent_ = true;  // this configuration's unplug is over: the camera came back
            return false;
        }
    }
    lost_ = true;
    // Notified under the data lock so that JoinFilterGraph cannot drop the weak sink while
    // it is in use; the graph only queues the event and posts its window message.
    if (sink_) {
        sink_->Notify(
            EC_DEVICE_LOST,
            reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 0);
    }
    wake_.notify_all();
    return true;
}

bool CaptureFilter::CheckAbortLocked(REFERENCE_TIME now, REFERENCE_TIME& deadline) {
    if (aborted_) {
        return true;
    }
    if (abortAfter_ <= 0 || abortSpent_) {
        return false;
    }
    if (now < abortAfter_) {
        deadline = std::min(deadline, abortAfter_);
        return false;
    }
    aborted_ = true;
    abortSpent_ = true;
    // A filter that cannot go on streaming tells the graph so; the graph's owner stops it.
    if (sink_) {
        sink_->Notify(EC_ERRORABORT, kStreamErrorResult, 0);
    }
    wake_.notify_all();
    return true;
}

}  // namespace vcam
