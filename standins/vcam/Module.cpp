// DLL entry points: class objects for the two filters and the camera's property page, and
// their registration (the filters as a video and an audio capture device, so that the
// system device enumerator lists them).
#include <dshow.h>
#include <olectl.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <string>

#include "framework/WinHandles.h"
#include "standins/vcam/CameraPage.h"
#include "standins/vcam/CameraPresence.h"
#include "standins/vcam/ComModule.h"
#include "standins/vcam/ComObject.h"
#include "standins/vcam/Filters.h"
#include "standins/vcam/VCamConfig.h"

using Microsoft::WRL::ComPtr;

namespace vcam {

namespace {

std::atomic<long> g_objects{0};
HMODULE g_module = nullptr;

using CreateFunction = HRESULT (*)(REFIID, void**);

struct FilterClass {
    const GUID* clsid;
    const wchar_t* name;
    const GUID* category;
    const GUID* majorType;
    CreateFunction create;
};

// Every class the DLL serves, with its registration.
struct ComClass {
    const GUID* clsid;
    const wchar_t* name;
    const wchar_t* threadingModel;
    CreateFunction create;
};

// The page owns windows, so it lives in its creator's apartment.
const ComClass kComClasses[] = {
    {&CLSID_OrvixTestCamera, kCameraName, L"Both", &CreateCamera},
    {&CLSID_OrvixTestMicrophone, kMicrophoneName, L"Both", &CreateMicrophone},
    {&CLSID_OrvixTestCameraPage, kPageClassName, L"Apartment", &CreateCameraPage},
};

const FilterClass kClasses[] = {
    {&CLSID_OrvixTestCamera, kCameraName, &CLSID_VideoInputDeviceCategory, &MEDIATYPE_Video,
     &CreateCamera},
    {&CLSID_OrvixTestMicrophone, kMicrophoneName, &CLSID_AudioInputDeviceCategory, &MEDIATYPE_Audio,
     &CreateMicrophone},
};

class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        return create_(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ModuleAddRef();
        } else {
            ModuleRelease();
        }
        return S_OK;
    }

private:
    ~ClassFactory() override = default;

    CreateFunction create_;
};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const LSTATUS status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

HRESULT RegisterClassKey(const ComClass& entry, const std::wstring& modulePath) {
    const std::wstring path = L"CLSID\\" + GuidText(*entry.clsid);
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                     nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    fw::RegKey classKey(raw);
    HRESULT hr = SetString(classKey.get(), nullptr, entry.name);
    if (FAILED(hr)) {
        return hr;
    }
    raw = nullptr;
    status = RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                             &raw, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    fw::RegKey server(raw);
    hr = SetString(server.get(), nullptr, modulePath);
    if (SUCCEEDED(hr)) {
        hr = SetString(server.get(), L"ThreadingModel", entry.threadingModel);
    }
    return hr;
}

HRESULT RegisterDevice(IFilterMapper2* mapper, const FilterClass& filter) {
    REGPINTYPES type{filter.majorType, &MEDIASUBTYPE_NULL};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 info{};
    info.dwVersion = 2;
    info.dwMerit = MERIT_DO_NOT_USE;
    info.cPins2 = 1;
    info.rgPins2 = &pin;
    // The instance is named after the class id; unregistering uses the same default.
    return mapper->RegisterFilter(*filter.clsid, filter.name, nullptr, filter.category, nullptr,
                                  &info);
}

ComPtr<IFilterMapper2> CreateMapper() {
    ComPtr<IFilterMapper2> mapper;
    CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
    return mapper;
}

}  // namespace

HRESULT RegisterCameraDevice() {
    ComPtr<IFilterMapper2> mapper = CreateMapper();
    return mapper ? RegisterDevice(mapper.Get(), kClasses[0]) : E_FAIL;
}

HRESULT UnregisterCameraDevice() {
    ComPtr<IFilterMapper2> mapper = CreateMapper();
    return mapper ? mapper->UnregisterFilter(kClasses[0].category, nullptr, *kClasses[0].clsid)
                  : E_FAIL;
}

void ModuleAddRef() { ++g_objects; }
void ModuleRelease() { --g_objects; }
bool ModuleInUse() { return g_objects.load() != 0; }
HMODULE ModuleHandle() { return g_module; }

}  // namespace vcam

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vcam::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    for (const auto& entry : vcam::kComClasses) {
        if (clsid == *entry.clsid) {
            return vcam::CreateObject<vcam::ClassFactory>(iid, out, entry.create);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return vcam::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(vcam::ModuleHandle(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    for (const auto& entry : vcam::kComClasses) {
        const HRESULT hr = vcam::RegisterClassKey(entry, path);
        if (FAILED(hr)) {
            return hr;
        }
    }
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    if (!com.ok()) {
        return com.result();
    }
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
    for (const auto& filter : vcam::kClasses) {
        if (SUCCEEDED(hr)) {
            hr = vcam::RegisterDevice(mapper.Get(), filter);
        }
    }
    return hr;
}

STDAPI DllUnregisterServer() {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    if (com.ok()) {
        ComPtr<IFilterMapper2> mapper;
        if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_PPV_ARGS(&mapper)))) {
            for (const auto& filter : vcam::kClasses) {
                mapper->UnregisterFilter(filter.category, nullptr, *filter.clsid);
            }
        }
    }
    for (const auto& entry : vcam::kComClasses) {
        const std::wstring path = L"CLSID\\" + vcam::GuidText(*entry.clsid);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    }
    return S_OK;
}
