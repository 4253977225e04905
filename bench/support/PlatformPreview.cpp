#include "bench/support/PlatformPreview.h"

#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace bench {

namespace {

void FreeType(AM_MEDIA_TYPE* Type) {
    if (!Type) return;
    if (Type->cbFormat) ::CoTaskMemFree(Type->pbFormat);
    if (Type->pUnk) Type->pUnk->Release();
    ::CoTaskMemFree(Type);
}

// The camera's format of that size, at 30 frames a second.
HRESULT SetSize(IAMStreamConfig* Config, int Width, int Height) {
    int count = 0, size = 0;
    HRESULT hr = Config->GetNumberOfCapabilities(&count, &size);
    if (FAILED(hr)) return hr;
    BYTE caps[512] = {};
    if (size > static_cast<int>(sizeof(caps))) return E_UNEXPECTED;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        if (FAILED(Config->GetStreamCaps(i, &mt, caps)) || !mt) continue;
        auto* vih = mt->formattype == FORMAT_VideoInfo && mt->cbFormat >= sizeof(VIDEOINFOHEADER)
                        ? reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)
                        : nullptr;
        if (vih && vih->bmiHeader.biWidth == Width &&
            (vih->bmiHeader.biHeight == Height || vih->bmiHeader.biHeight == -Height)) {
            vih->AvgTimePerFrame = 333333;
            hr = Config->SetFormat(mt);
            FreeType(mt);
            return hr;
        }
        FreeType(mt);
    }
    return VFW_E_INVALIDMEDIATYPE;
}

}  // namespace

ComPtr<IMoniker> VideoDeviceByName(const wchar_t* Name) {
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> list;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &list, 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (list->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) continue;
        VARIANT v;
        ::VariantInit(&v);
        const bool same = SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) &&
                          v.vt == VT_BSTR && std::wcscmp(v.bstrVal, Name) == 0;
        ::VariantClear(&v);
        if (same) return moniker;
    }
    return nullptr;
}

bool PlatformPreview::Build(IMoniker* Camera, int Width, int Height, HWND Owner) {
    Release();
    if (!Camera) return Fail("no camera");
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&graph_))) ||
        FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&builder_))) ||
        FAILED(builder_->SetFiltergraph(graph_.Get())))
        return Fail("the graph and its builder");
    if (FAILED(Camera->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&camera_))) ||
        FAILED(graph_->AddFilter(camera_.Get(), L"Video Capture")))
        return Fail("the camera");
    if (Width > 0 && Height > 0) {
        ComPtr<IAMStreamConfig> config;
        if (FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera_.Get(),
                                           IID_IAMStreamConfig,
                                           reinterpret_cast<void**>(config.GetAddressOf()))) ||
            FAILED(SetSize(config.Get(), Width, Height)))
            return Fail("the camera's format");
    }
    const HRESULT rendered = builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                    camera_.Get(), nullptr, nullptr);
    if (rendered != S_OK && rendered != VFW_S_NOPREVIEWPIN) return Fail("RenderStream");
    RECT client{};
    ::GetClientRect(Owner, &client);
    // mingw-w64 gives IVideoWindow no __uuidof: asked for by its IID.
    if (FAILED(graph_->QueryInterface(IID_IVideoWindow,
                                      reinterpret_cast<void**>(window_.GetAddressOf()))) ||
        FAILED(window_->put_Owner(reinterpret_cast<OAHWND>(Owner))))
        return Fail("the video window");
    window_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    window_->SetWindowPosition(0, 0, client.right, client.bottom);
    window_->put_Visible(OATRUE);
    if (FAILED(graph_.As(&control_))) return Fail("IMediaControl");
    return true;
}

bool PlatformPreview::Run() {
    if (!control_ || FAILED(control_->Run())) return Fail("Run");
    return true;
}

void PlatformPreview::Stop() {
    if (control_) control_->Stop();
}

void PlatformPreview::Release() {
    if (control_) control_->Stop();
    if (window_) {
        window_->put_Visible(OAFALSE);
        window_->put_Owner(0);
    }
    control_.Reset();
    window_.Reset();
    camera_.Reset();
    builder_.Reset();
    graph_.Reset();
}

}  // namespace bench
