#include "tests/support/CameraConfig.h"

#include <dshow.h>

#include <cwchar>
#include <string>

#include "devices/VMFilter.h"
#include "standins/vcam/VCamConfig.h"

namespace testsupport {

namespace {

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// A test that ends with the camera unplugged (or before its return) leaves its device
// entry missing: the camera's own registration writes it again.
void PlugInCamera() {
    const std::wstring camera = GuidText(vcam::CLSID_OrvixTestCamera);
    const std::wstring entry =
        L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" + camera;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, entry.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof(path);
    const std::wstring server = L"CLSID\\" + camera + L"\\InprocServer32";
    if (RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path,
                     &size) != ERROR_SUCCESS)
        return;
    HMODULE dll = LoadLibraryW(path);
    if (!dll) return;
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto reg = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    if (reg) reg();
    FreeLibrary(dll);
}

}  // namespace

CameraConfig::CameraConfig() {
    RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
    SetString(vcam::kValueSubtype, L"RGB24");
    PlugInCamera();
}

CameraConfig::~CameraConfig() {
    RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
    PlugInCamera();
}

void CameraConfig::SetDword(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, REG_DWORD, &value, sizeof(value));
}

void CameraConfig::SetString(const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

void CameraConfig::Remove(const wchar_t* name) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name);
}

void CameraConfig::Unplug() {
    const ULONGLONG now = GetTickCount64();
    RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueLostAt, REG_QWORD, &now,
                    sizeof(now));
    IFilterMapper2* mapper = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&mapper)))) {
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr,
                                 vcam::CLSID_OrvixTestCamera);
        mapper->Release();
    }
}

void CameraConfig::PlugIn() {
    Remove(vcam::kValueLostAt);
    PlugInCamera();
}

DWORD CameraConfig::ReadDword(const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

}  // namespace testsupport
