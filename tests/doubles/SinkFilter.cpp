#include "tests/doubles/SinkFilter.h"

#include <wrl/client.h>

#include "framework/WinHandles.h"
#include "standins/vcam/ListEnumerator.h"

using Microsoft::WRL::ComPtr;

namespace doubles {

namespace {

using vcam::PinEnumerator;

// The pins propose no types: the upstream pin's types decide.
struct NoTypesTraits {
    using Interface = IEnumMediaTypes;
    using Out = AM_MEDIA_TYPE;
    using Item = int;
    static HRESULT Give(const Item&, AM_MEDIA_TYPE**) { return E_UNEXPECTED; }
    static void TakeBack(AM_MEDIA_TYPE*) {}
};
using NoTypesEnumerator = vcam::ListEnumerator<NoTypesTraits>;

}  // namespace

void CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) {
    to = from;
    to.pbFormat = nullptr;
    to.cbFormat = 0;
    if (from.cbFormat && from.pbFormat) {
        to.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(from.cbFormat));
        if (to.pbFormat) {
            memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
            to.cbFormat = from.cbFormat;
        }
    }
    if (to.pUnk) to.pUnk->AddRef();
}

void ClearMediaType(AM_MEDIA_TYPE& type) {
    if (type.pbFormat) ::CoTaskMemFree(type.pbFormat);
    if (type.pUnk) type.pUnk->Release();
    type = AM_MEDIA_TYPE{};
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

namespace {

fw::RegKey RecordKey(const wchar_t* dbl) {
    const std::wstring path = std::wstring(L"Software\\Orvix\\TestDoubles\\") + dbl;
    HKEY raw = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw,
                      nullptr);
    return fw::RegKey(raw);
}

}  // namespace

void RecordString(const wchar_t* dbl, const wchar_t* name, const std::wstring& value) {
    fw::RegKey key = RecordKey(dbl);
    if (!key) return;
    ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RecordDword(const wchar_t* dbl, const wchar_t* name, DWORD value) {
    fw::RegKey key = RecordKey(dbl);
    if (!key) return;
    ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
}

// ---------------------------------------------------------------------------
// SinkPin

SinkPin::SinkPin(SinkFilter& filter, int index, std::wstring name)
    : filter_(filter), index_(index), name_(std::move(name)) {}

SinkPin::~SinkPin() { Disconnect(); }

STDMETHODIMP SinkPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
    } else if (iid == IID_IMemInputPin) {
        *out = static_cast<IMemInputPin*>(this);
    } else {
        return filter_.PinInterface(index_, iid, out);
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SinkPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) SinkPin::Release() { return filter_.Release(); }

STDMETHODIMP SinkPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
    // An input pin is connected to, never connects.
    return E_UNEXPECTED;
}

STDMETHODIMP SinkPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_.Stopped()) return VFW_E_NOT_STOPPED;
    if (!filter_.Accepts(index_, *mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = connector;
    peer_->AddRef();
    CopyMediaType(mt_, *mt);
    filter_.PinConnected(index_);
    return S_OK;
}

STDMETHODIMP SinkPin::Disconnect() {
    if (!peer_) return S_FALSE;
    peer_->Release();
    peer_ = nullptr;
    if (allocator_) {
        allocator_->Release();
        allocator_ = nullptr;
    }
    ClearMediaType(mt_);
    return S_OK;
}

STDMETHODIMP SinkPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP SinkPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (!peer_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    CopyMediaType(*mt, mt_);
    return S_OK;
}

STDMETHODIMP SinkPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(&filter_);
    info->pFilter->AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP SinkPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP SinkPin::QueryId(LPWSTR* id) { return vcam::GiveCoTaskString(name_.c_str(), id); }

STDMETHODIMP SinkPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    return mt && filter_.Accepts(index_, *mt) ? S_OK : S_FALSE;
}

STDMETHODIMP SinkPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = new (std::nothrow) NoTypesEnumerator(std::make_shared<const std::vector<int>>(), 0);
    return *types ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SinkPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP SinkPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP SinkPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    if (filter_.Stopped()) return VFW_E_WRONG_STATE;
    return filter_.Deliver(index_, sample);
}

STDMETHODIMP SinkPin::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    if (!samples || !done) return E_POINTER;
    *done = 0;
    for (long i = 0; i < count; ++i) {
        const HRESULT hr = Receive(samples[i]);
        if (hr != S_OK) return hr;
        ++*done;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// SinkFilter

SinkFilter::SinkFilter(const CLSID& clsid, const std::vector<std::wstring>& pinNames)
    : clsid_(clsid) {
    for (size_t i = 0; i < pinNames.size(); ++i)
        pins_.push_back(std::make_unique<SinkPin>(*this, static_cast<int>(i), pinNames[i]));
}

SinkFilter::~SinkFilter() {
    if (clock_) clock_->Release();
}

STDMETHODIMP SinkFilter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
        iid == IID_IBaseFilter) {
        *out = static_cast<IBaseFilter*>(this);
    } else if (iid == IID_IFileSinkFilter || iid == IID_IFileSinkFilter2) {
        *out = static_cast<IFileSinkFilter2*>(this);
    } else {
        return FilterInterface(iid, out);
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SinkFilter::AddRef() { return InterlockedIncrement(&ref_); }

STDMETHODIMP_(ULONG) SinkFilter::Release() {
    const LONG ref = InterlockedDecrement(&ref_);
    if (ref == 0) delete this;
    return ref;
}

STDMETHODIMP SinkFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP SinkFilter::Stop() {
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (state_ != State_Stopped) {
        state_ = State_Stopped;
        Stopping();
    }
    return S_OK;
}

STDMETHODIMP SinkFilter::Pause() {
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Starting();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP SinkFilter::Run(REFERENCE_TIME) {
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Starting();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP SinkFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

STDMETHODIMP SinkFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP SinkFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP SinkFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    auto list = std::make_shared<std::vector<ComPtr<IPin>>>();
    if (IPin* out = OutputPin()) list->push_back(out);
    for (auto& p : pins_) list->push_back(static_cast<IPin*>(p.get()));
    *pins = new (std::nothrow) PinEnumerator(std::move(list), 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SinkFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    if (IPin* out = OutputPin()) {
        PIN_INFO info{};
        out->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        if (lstrcmpW(info.achName, id) == 0) {
            *pin = out;
            out->AddRef();
            return S_OK;
        }
    }
    for (auto& p : pins_) {
        PIN_INFO info{};
        p->QueryPinInfo(&info);
        info.pFilter->Release();
        if (lstrcmpW(info.achName, id) == 0) {
            *pin = static_cast<IPin*>(p.get());
            (*pin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP SinkFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP SinkFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP SinkFilter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) {
    if (!name) return E_POINTER;
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    fileName_ = name;
    FileNameSet();
    return S_OK;
}

STDMETHODIMP SinkFilter::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) {
    if (!name) return E_POINTER;
    std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
    if (mt) *mt = AM_MEDIA_TYPE{};
    *name = nullptr;
    return fileName_.empty() ? S_OK : vcam::GiveCoTaskString(fileName_.c_str(), name);
}

STDMETHODIMP SinkFilter::SetMode(DWORD flags) {
    if (flags & ~static_cast<DWORD>(AM_FILE_OVERWRITE)) return E_INVALIDARG;
    mode_ = flags;
    return S_OK;
}

STDMETHODIMP SinkFilter::GetMode(DWORD* flags) {
    if (!flags) return E_POINTER;
    *flags = mode_;
    return S_OK;
}

}  // namespace doubles
