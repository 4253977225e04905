// DLL entry points of the platform filter doubles and their registration under the
// platform's class ids (in the test and run prefixes only).
#include <dshow.h>
#include <olectl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>

#include "framework/WinHandles.h"
#include "standins/vcam/ComObject.h"
#include "tests/doubles/Doubles.h"
#include "tests/doubles/SinkFilter.h"

// qedit.h has no class id for the grabber; strmiids has it.
extern "C" const CLSID CLSID_SampleGrabber;

// The object count and module handle the shared COM helpers expect.
namespace vcam {
namespace {
std::atomic<long> g_objects{0};
HMODULE g_module = nullptr;
}  // namespace
void ModuleAddRef() { ++g_objects; }
void ModuleRelease() { --g_objects; }
bool ModuleInUse() { return g_objects > 0; }
HMODULE ModuleHandle() { return g_module; }
}  // namespace vcam

namespace {

using CreateFunction = HRESULT (*)(REFIID, void**);

// A filter the graph builder may pick by itself while it connects or renders: it is
// listed with the platform filter's merit and pin types.
struct Listing {
    DWORD merit;
    const GUID* inputSubtype;  // video; GUID_NULL: any
};

struct ComClass {
    const GUID* clsid;
    const wchar_t* name;
    CreateFunction create;
    const Listing* listing;
};

const Listing kMjpegDecListing{MERIT_NORMAL, &MEDIASUBTYPE_MJPG};
const Listing kColourListing{MERIT_UNLIKELY, &MEDIASUBTYPE_NULL};

const ComClass kClasses[] = {
    {&CLSID_WMAsfWriter, L"WM ASF Writer", &doubles::CreateAsfWriter, nullptr},
    {&CLSID_FileWriter, L"File writer", &doubles::CreateFileWriter, nullptr},
    {&CLSID_AviDest, L"AVI Mux", &doubles::CreateAviMux, nullptr},
    {&CLSID_MjpegDec, L"MJPEG Decompressor", &doubles::CreateMjpegDec, &kMjpegDecListing},
    {&CLSID_Colour, L"Color Space Converter", &doubles::CreateColour, &kColourListing},
    {&CLSID_CaptureGraphBuilder2, L"Capture Graph Builder", &doubles::CreateCaptureGraphBuilder,
     nullptr},
    {&CLSID_FilterGraph, L"Filter Graph", &doubles::CreateFilterGraph, nullptr},
    {&CLSID_SampleGrabber, L"SampleGrabber", &doubles::CreateSampleGrabber, nullptr},
};

HRESULT RegisterListing(IFilterMapper2* mapper, const ComClass& c) {
    REGPINTYPES in{&MEDIATYPE_Video, c.listing->inputSubtype};
    REGPINTYPES out{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
    REGFILTERPINS2 pins[2] = {};
    pins[0].cInstances = 1;
    pins[0].nMediaTypes = 1;
    pins[0].lpMediaType = &in;
    pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
    pins[1].cInstances = 1;
    pins[1].nMediaTypes = 1;
    pins[1].lpMediaType = &out;
    REGFILTER2 info{};
    info.dwVersion = 2;
    info.dwMerit = c.listing->merit;
    info.cPins2 = 2;
    info.rgPins2 = pins;
    return mapper->RegisterFilter(*c.clsid, c.name, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                  &info);
}

class ClassFactory final : public vcam::ComObject<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            vcam::ModuleAddRef();
        else
            vcam::ModuleRelease();
        return S_OK;
    }

private:
    ~ClassFactory() override = default;
    CreateFunction create_;
};

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return HRESULT_FROM_WIN32(
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(vcam::g_module, path, MAX_PATH);
    return path;
}

}  // namespace

namespace doubles {

HRESULT PlatformClassObject(const wchar_t* dll, REFCLSID clsid, IClassFactory** factory) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const HMODULE module = ::LoadLibraryW(dll);  // kept: its objects outlive any call here
    const auto get = module ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                  ::GetProcAddress(module, "DllGetClassObject")))
                            : nullptr;
    if (!get) return REGDB_E_CLASSNOTREG;
    return get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
}

}  // namespace doubles

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vcam::g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// A test's switch: REG_DWORD 1 under HKCU\Software\Orvix\TestDoubles\Missing, named as
// the class, makes the class unavailable as on a system without the component (the "N"
// editions of Windows have no WM ASF Writer): creating it fails as for a class that is
// not registered.
static bool Missing(const ComClass& c) {
    DWORD value = 0, size = sizeof(value);
    return ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\Missing", c.name,
                          RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS &&
           value == 1;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const ComClass& c : kClasses) {
        if (*c.clsid != clsid) continue;
        if (Missing(c)) return REGDB_E_CLASSNOTREG;
        return vcam::CreateObject<ClassFactory>(iid, out, c.create);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return vcam::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    const std::wstring module = ModulePath();
    for (const ComClass& c : kClasses) {
        const std::wstring path = L"CLSID\\" + doubles::GuidText(*c.clsid) + L"\\InprocServer32";
        HKEY raw = nullptr;
        LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &raw, nullptr);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        fw::RegKey key(raw);
        HRESULT hr = SetString(key.get(), nullptr, module);
        if (SUCCEEDED(hr)) hr = SetString(key.get(), L"ThreadingModel", L"Both");
        if (FAILED(hr)) return hr;
    }
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    if (!com.ok()) return com.result();
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&mapper));
    for (const ComClass& c : kClasses) {
        if (SUCCEEDED(hr) && c.listing) hr = RegisterListing(mapper.Get(), c);
    }
    return hr;
}

// The class ids are the platform's; where the platform has its own server (the file
// writer) unregistering could only break it, so only our own server entry goes.
STDAPI DllUnregisterServer() {
    const std::wstring module = ModulePath();
    {
        fw::ComInit com(COINIT_APARTMENTTHREADED);
        Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
        if (com.ok() && SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr,
                                                     CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper))))
            for (const ComClass& c : kClasses)
                if (c.listing)
                    mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *c.clsid);
    }
    for (const ComClass& c : kClasses) {
        const std::wstring path = L"CLSID\\" + doubles::GuidText(*c.clsid) + L"\\InprocServer32";
        wchar_t value[MAX_PATH] = {};
        LONG size = sizeof(value);
        if (::RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), value, &size) == ERROR_SUCCESS &&
            _wcsicmp(value, module.c_str()) == 0)
            ::RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    }
    return S_OK;
}
