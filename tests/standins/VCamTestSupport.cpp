#include "tests/standins/VCamTestSupport.h"

#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

namespace vcamtest {

STDMETHODIMP RecordingCallback::QueryInterface(REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *out = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) RecordingCallback::AddRef() { return InterlockedIncrement(&ref_); }

STDMETHODIMP_(ULONG) RecordingCallback::Release() {
    const LONG ref = InterlockedDecrement(&ref_);
    if (ref == 0) {
        delete this;
    }
    return ref;
}

STDMETHODIMP RecordingCallback::SampleCB(double, IMediaSample* sample) {
    SampleRecord record;
    record.arrival = std::chrono::steady_clock::now();
    record.hasTime = sample->GetTime(&record.start, &record.stop) == S_OK;
    record.discontinuity = sample->IsDiscontinuity() == S_OK;
    record.length = sample->GetActualDataLength();
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::lock_guard lock(lock_);
    records_.push_back(record);
    if (data && record.length > 0) {
        last_.assign(data, data + record.length);
    }
    arrived_.notify_all();
    return S_OK;
}

STDMETHODIMP RecordingCallback::BufferCB(double, BYTE*, LONG) { return E_NOTIMPL; }

bool RecordingCallback::WaitForCount(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(lock_);
    return arrived_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

size_t RecordingCallback::Count() {
    std::lock_guard lock(lock_);
    return records_.size();
}

std::vector<SampleRecord> RecordingCallback::Records() {
    std::lock_guard lock(lock_);
    return records_;
}

std::vector<BYTE> RecordingCallback::LastData() {
    std::lock_guard lock(lock_);
    return last_;
}

void RecordingCallback::Clear() {
    std::lock_guard lock(lock_);
    records_.clear();
    last_.clear();
}

ComPtr<IPin> FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) {
        return nullptr;
    }
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == direction) {
            return pin;
        }
    }
    return nullptr;
}

HRESULT CallSensorSlot(IUnknown* control, LONG sensor) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG);
    void** vtable = *reinterpret_cast<void***>(control);
    return reinterpret_cast<Method>(vtable[3 + 18])(control, sensor);
}

ComPtr<IAMStreamConfig> StreamConfigOf(IBaseFilter* filter) {
    ComPtr<IAMStreamConfig> config;
    ComPtr<IPin> pin = FindPinByDirection(filter, PINDIR_OUTPUT);
    if (pin) {
        pin.As(&config);
    }
    return config;
}

ComPtr<IBaseFilter> CreateCamera() {
    return CreateInProc<IBaseFilter>(vcam::CLSID_OrvixTestCamera);
}

ComPtr<IBaseFilter> CreateMicrophone() {
    return CreateInProc<IBaseFilter>(vcam::CLSID_OrvixTestMicrophone);
}

CaptureGraph::~CaptureGraph() {
    if (control) {
        control->Stop();
    }
    StopEachFilter();
    if (grabber) {
        grabber->SetCallback(nullptr, 0);
    }
}

HRESULT CaptureGraph::BuildPreviewWithBuilder(IBaseFilter* sourceFilter) {
    HRESULT hr = Build(sourceFilter, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ICaptureGraphBuilder2> builder;
    if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&builder))) ||
        FAILED(hr = builder->SetFiltergraph(graph.Get()))) {
        return hr;
    }
    return builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(),
                                 grabberFilter.Get(), renderer.Get());
}

HRESULT CaptureGraph::Build(IBaseFilter* sourceFilter, const GUID& major, const GUID& subtype,
                            const wchar_t* pin) {
    source = sourceFilter;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (FAILED(hr)) {
        return hr;
    }
    graph.As(&control);
    graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events.GetAddressOf()));
    if (FAILED(hr = graph->AddFilter(source.Get(), L"Source"))) {
        return hr;
    }
    if (FAILED(hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&grabberFilter))) ||
        FAILED(hr = grabberFilter.As(&grabber)) ||
        FAILED(hr = graph->AddFilter(grabberFilter.Get(), L"Grabber"))) {
        return hr;
    }
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = major;
    wanted.subtype = subtype;
    if (FAILED(hr = grabber->SetMediaType(&wanted))) {
        return hr;
    }
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    // Takes over the creation reference (mingw-w64's ComPtr::Attach would add another).
    callback.Reset();
    *callback.GetAddressOf() = new RecordingCallback();
    if (FAILED(hr = grabber->SetCallback(callback.Get(), 0))) {
        return hr;
    }
    if (FAILED(hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&renderer))) ||
        FAILED(hr = graph->AddFilter(renderer.Get(), L"Null Renderer"))) {
        return hr;
    }
    if (!pin) {
        return S_OK;
    }
    ComPtr<IPin> sourceOut;
    if (FAILED(hr = source->FindPin(pin, &sourceOut))) {
        return hr;
    }
    ComPtr<IPin> grabberIn = FindPinByDirection(grabberFilter.Get(), PINDIR_INPUT);
    ComPtr<IPin> grabberOut = FindPinByDirection(grabberFilter.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> rendererIn = FindPinByDirection(renderer.Get(), PINDIR_INPUT);
    if (!grabberIn || !grabberOut || !rendererIn) {
        return E_FAIL;
    }
    if (FAILED(hr = graph->ConnectDirect(sourceOut.Get(), grabberIn.Get(), nullptr))) {
        return hr;
    }
    return graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
}

HRESULT CaptureGraph::Run() { return control->Run(); }

HRESULT CaptureGraph::Stop() { return control->Stop(); }

void CaptureGraph::StopEachFilter() {
    for (IBaseFilter* filter : {renderer.Get(), grabberFilter.Get(), source.Get()}) {
        if (filter) {
            filter->Stop();
        }
    }
}

bool CaptureGraph::WaitForEvent(long code, std::chrono::milliseconds timeout) {
    // Wine's GetEvent does not wait when the queue is empty, so wait on the event handle.
    OAEVENT handle = 0;
    if (FAILED(events->GetEventHandle(&handle))) {
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        long got = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        while (events->GetEvent(&got, &param1, &param2, 0) == S_OK) {
            events->FreeEventParams(got, param1, param2);
            if (got == code) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            WaitForSingleObject(reinterpret_cast<HANDLE>(handle),
                                static_cast<DWORD>(left.count())) != WAIT_OBJECT_0) {
            return false;
        }
    }
}

MeanColour MeanOfRgb24(const std::vector<BYTE>& frame) {
    MeanColour mean;
    const size_t pixels = frame.size() / 3;
    if (pixels == 0) {
        return mean;
    }
    double sums[3] = {0, 0, 0};
    for (size_t i = 0; i < pixels * 3; i += 3) {
        sums[0] += frame[i];
        sums[1] += frame[i + 1];
        sums[2] += frame[i + 2];
    }
    mean.blue = sums[0] / static_cast<double>(pixels);
    mean.green = sums[1] / static_cast<double>(pixels);
    mean.red = sums[2] / static_cast<double>(pixels);
    return mean;
}

}  // namespace vcamtest
