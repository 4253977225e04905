#include "standins/vcam/CameraPage.h"

#include <dshow.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "framework/WinHandles.h"
#include "standins/vcam/ComObject.h"
#include "standins/vcam/VCamConfig.h"
#include "standins/vcam/VideoFormats.h"

namespace vcam {

using Microsoft::WRL::ComPtr;

namespace {

constexpr SIZE kPageSize = {260, 80};
constexpr int kMargin = 10;
constexpr int kLineHeight = 20;
constexpr int kLineGap = 6;

// The page window needs no behaviour of its own, so its class uses the system's default
// procedure: nothing of this DLL is left behind in the class when the DLL is unloaded.
bool EnsurePageClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = ModuleHandle();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kPageClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The status of the camera behind `object`: the filter itself, or a pin whose filter is
// the camera.
ComPtr<IVCamStatus> StatusSourceOf(IUnknown* object) {
    ComPtr<IVCamStatus> status;
    if (!object || SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&status)))) {
        return status;
    }
    ComPtr<IPin> pin;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&pin)))) {
        return nullptr;
    }
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) {
        return nullptr;
    }
    // Takes over the reference QueryPinInfo added. Not through Attach: mingw-w64's
    // ComPtr::Attach adds a reference of its own.
    ComPtr<IBaseFilter> filter;
    *filter.GetAddressOf() = info.pFilter;
    if (filter) {
        filter->QueryInterface(IID_PPV_ARGS(&status));
    }
    return status;
}

class CameraPage final : public ComObject<IPropertyPage> {
public:
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override {
        site_ = site;
        return S_OK;
    }

    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL) override {
        if (!rect) {
            return E_POINTER;
        }
        if (window_) {
            return E_UNEXPECTED;
        }
        if (!EnsurePageClass()) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        // Hidden until the frame calls Show.
        fw::WindowHandle window(CreateWindowExW(WS_EX_CONTROLPARENT, kPageClassName, kPageTitle,
                                                WS_CHILD | WS_CLIPSIBLINGS, rect->left, rect->top,
                                                rect->right - rect->left, rect->bottom - rect->top,
                                                parent, nullptr, ModuleHandle(), nullptr));
        if (!window) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        HFONT font =
            parent ? reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0)) : nullptr;
        if (!font) {
            font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        }
        const int ids[] = {kPageSensorTextId, kPageFormatTextId};
        for (int line = 0; line < 2; ++line) {
            HWND text = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, kMargin,
                                        kMargin + line * (kLineHeight + kLineGap),
                                        kPageSize.cx - 2 * kMargin, kLineHeight, window.get(),
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids[line])),
                                        ModuleHandle(), nullptr);
            if (!text) {
                return HRESULT_FROM_WIN32(GetLastError());  // the holder destroys what was made
            }
            SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
        window_ = std::move(window);
        Refresh();
        return S_OK;
    }

    STDMETHODIMP Deactivate() override {
        if (!window_) {
            return E_UNEXPECTED;
        }
        window_.reset();
        return S_OK;
    }

    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
        if (!info) {
            return E_POINTER;
        }
        LPOLESTR title = nullptr;
        if (const HRESULT hr = GiveCoTaskString(kPageTitle, &title); FAILED(hr)) {
            return hr;
        }
        info->cb = sizeof(PROPPAGEINFO);
        info->pszTitle = title;
        info->size = kPageSize;
        info->pszDocString = nullptr;
        info->pszHelpFile = nullptr;
        info->dwHelpContext = 0;
        return S_OK;
    }

    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
        if (count == 0) {
            source_.Reset();
            return S_OK;
        }
        if (!objects) {
            return E_POINTER;
        }
        // One camera at a time: the first object decides.
        ComPtr<IVCamStatus> source = StatusSourceOf(objects[0]);
        if (!source) {
            return E_NOINTERFACE;
        }
        source_ = std::move(source);
        Refresh();
        return S_OK;
    }

    STDMETHODIMP Show(UINT command) override {
        if (!window_) {
            return E_UNEXPECTED;
        }
        if (command != SW_HIDE) {
            Refresh();  // the sensor or format may have changed since the page was made
        }
        ShowWindow(window_.get(), static_cast<int>(command));
        return S_OK;
    }

    STDMETHODIMP Move(LPCRECT rect) override {
        if (!rect) {
            return E_POINTER;
        }
        if (!window_) {
            return E_UNEXPECTED;
        }
        MoveWindow(window_.get(), rect->left, rect->top, rect->right - rect->left,
                   rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    // The page only shows values; there is never anything to apply.
    STDMETHODIMP IsPageDirty() override { return S_FALSE; }
    STDMETHODIMP Apply() override { return S_OK; }
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    ~CameraPage() override = default;

    void Refresh() {
        if (!window_ || !source_) {
            return;
        }
        VCamStatus status{};
        if (FAILED(source_->GetStatus(&status))) {
            return;
        }
        SetDlgItemTextW(window_.get(), kPageSensorTextId, SensorText(status.sensor).c_str());
        SetDlgItemTextW(window_.get(), kPageFormatTextId, FormatText(status).c_str());
    }

    ComPtr<IPropertyPageSite> site_;
    ComPtr<IVCamStatus> source_;
    fw::WindowHandle window_;  // declared last: destroyed first, while the rest still exists
};

}  // namespace

std::wstring SensorText(LONG sensor) {
    return L"Sensor: " + std::to_wstring(sensor) +
           (sensor == kBackwardSensor ? L" (backward)" : L" (forward)");
}

std::wstring FormatText(const VCamStatus& status) {
    const VideoSubtype* known = SubtypeWithGuid(status.subtype);
    const std::wstring subtype = known ? known->name : L"?";
    return L"Format: " + std::to_wstring(status.width) + L" x " + std::to_wstring(status.height) +
           L" " + subtype;
}

HRESULT CreateCameraPage(REFIID iid, void** out) { return CreateObject<CameraPage>(iid, out); }

}  // namespace vcam
