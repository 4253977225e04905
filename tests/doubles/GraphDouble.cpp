// The filter graph manager: Wine's own (quartz.dll, through its class object), handed out
// as it is unless a test asks for a graph in a state the program must report. A test's
// switch, a REG_DWORD 1 under HKCU\Software\Orvix\TestDoubles\Graph, read when a graph is
// made:
// NoMediaControl: the graph answers no IMediaControl, so it cannot be run or stopped;
// NoVideoRenderer: the graph's IVideoWindow is there, as it always is on Windows, but no
//   filter in the graph takes it, so each of its methods returns E_NOINTERFACE, as the
//   graph manager does when it holds no video renderer.
// Such a graph forwards everything else to Wine's graph.
#include <dshow.h>
#include <wrl/client.h>

#include "standins/vcam/ComObject.h"
#include "tests/doubles/Doubles.h"

using Microsoft::WRL::ComPtr;

// The headers give this interface no __uuidof.
__CRT_UUID_DECL(IVideoWindow, 0x56a868b4, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
                0x70)

namespace doubles {

namespace {

bool Switched(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    return ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\Graph", name,
                          RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS &&
           value == 1;
}

// The graph's video window with no renderer to pass the calls to.
class NoRendererWindow final : public vcam::ComObject<IVideoWindow> {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return vcam::QueryInterfaceFor(static_cast<IVideoWindow*>(this), iid, out, IID_IDispatch,
                                       IID_IVideoWindow);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP put_Caption(BSTR) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Caption(BSTR*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_WindowStyle(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_WindowStyle(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_WindowStyleEx(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_WindowStyleEx(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_AutoShow(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_AutoShow(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_WindowState(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_WindowState(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_BackgroundPalette(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_BackgroundPalette(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Visible(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Visible(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Left(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Left(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Width(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Width(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Top(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Top(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Height(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Height(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_Owner(OAHWND) override { return E_NOINTERFACE; }
    STDMETHODIMP get_Owner(OAHWND*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_MessageDrain(OAHWND) override { return E_NOINTERFACE; }
    STDMETHODIMP get_MessageDrain(OAHWND*) override { return E_NOINTERFACE; }
    STDMETHODIMP get_BorderColor(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_BorderColor(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP get_FullScreenMode(LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP put_FullScreenMode(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP SetWindowForeground(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override {
        return E_NOINTERFACE;
    }
    STDMETHODIMP SetWindowPosition(LONG, LONG, LONG, LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP GetMinIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP GetMaxIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP GetRestorePosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOINTERFACE; }
    STDMETHODIMP HideCursor(LONG) override { return E_NOINTERFACE; }
    STDMETHODIMP IsCursorHidden(LONG*) override { return E_NOINTERFACE; }

private:
    ~NoRendererWindow() override = default;
};

class GraphDouble final : public vcam::ComObject<IFilterGraph2> {
public:
    GraphDouble(ComPtr<IFilterGraph2> wine, bool noMediaControl, bool noRenderer)
        : wine_(std::move(wine)), noMediaControl_(noMediaControl), noRenderer_(noRenderer) {}

    // What the graph has besides its building interfaces is Wine's, but for the switched
    // ones; so every later question about the graph comes back here.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder ||
            iid == IID_IFilterGraph2) {
            *out = static_cast<IFilterGraph2*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IMediaControl && noMediaControl_) return E_NOINTERFACE;
        if (iid == IID_IVideoWindow && noRenderer_)
            return vcam::CreateObject<NoRendererWindow>(iid, out);
        return wine_->QueryInterface(iid, out);
    }

    STDMETHODIMP AddFilter(IBaseFilter* f, LPCWSTR name) override {
        return wine_->AddFilter(f, name);
    }
    STDMETHODIMP RemoveFilter(IBaseFilter* f) override { return wine_->RemoveFilter(f); }
    STDMETHODIMP EnumFilters(IEnumFilters** e) override { return wine_->EnumFilters(e); }
    STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter** f) override {
        return wine_->FindFilterByName(name, f);
    }
    STDMETHODIMP ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        return wine_->ConnectDirect(out, in, mt);
    }
    STDMETHODIMP Reconnect(IPin* pin) override { return wine_->Reconnect(pin); }
    STDMETHODIMP Disconnect(IPin* pin) override { return wine_->Disconnect(pin); }
    STDMETHODIMP SetDefaultSyncSource() override { return wine_->SetDefaultSyncSource(); }
    STDMETHODIMP Connect(IPin* out, IPin* in) override { return wine_->Connect(out, in); }
    STDMETHODIMP Render(IPin* out) override { return wine_->Render(out); }
    STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR list) override {
        return wine_->RenderFile(file, list);
    }
    STDMETHODIMP AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** f) override {
        return wine_->AddSourceFilter(file, name, f);
    }
    STDMETHODIMP SetLogFile(DWORD_PTR file) override { return wine_->SetLogFile(file); }
    STDMETHODIMP Abort() override { return wine_->Abort(); }
    STDMETHODIMP ShouldOperationContinue() override { return wine_->ShouldOperationContinue(); }
    STDMETHODIMP AddSourceFilterForMoniker(IMoniker* m, IBindCtx* c, LPCWSTR name,
                                           IBaseFilter** f) override {
        return wine_->AddSourceFilterForMoniker(m, c, name, f);
    }
    STDMETHODIMP ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override {
        return wine_->ReconnectEx(pin, mt);
    }
    STDMETHODIMP RenderEx(IPin* out, DWORD flags, DWORD* context) override {
        return wine_->RenderEx(out, flags, context);
    }

private:
    ~GraphDouble() override = default;
    ComPtr<IFilterGraph2> wine_;
    const bool noMediaControl_, noRenderer_;
};

}  // namespace

HRESULT CreateFilterGraph(REFIID iid, void** out) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = PlatformClassObject(L"quartz.dll", CLSID_FilterGraph, &factory);
    const bool noMediaControl = Switched(L"NoMediaControl"),
               noRenderer = Switched(L"NoVideoRenderer");
    if (FAILED(hr)) return hr;
    if (!noMediaControl && !noRenderer) return factory->CreateInstance(nullptr, iid, out);
    ComPtr<IFilterGraph2> wine;
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&wine));
    if (FAILED(hr)) return hr;
    return vcam::CreateObject<GraphDouble>(iid, out, std::move(wine), noMediaControl, noRenderer);
}

}  // namespace doubles
