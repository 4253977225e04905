#include "capture/CapDevices.h"

#include "common/u_PathUtil.h"
#include "devices/u_HID.h"
#include "framework/Application.h"

#include <dshow.h>

using Microsoft::WRL::ComPtr;

TCapDeviceList& VideoDeviceList() {
    static TCapDeviceList list;
    return list;
}
TCapDeviceList& AudioDeviceList() {
    static TCapDeviceList list;
    return list;
}
TCapDeviceList& VideoCompressorList() {
    static TCapDeviceList list;
    return list;
}
TCapDeviceList& AudioCompressorList() {
    static TCapDeviceList list;
    return list;
}

namespace {

// False until the compressor lists are filled, and again after each device change.
bool g_compressorListsCurrent = false;

}  // namespace

void ReleaseDeviceLists() {
    g_compressorListsCurrent = false;
    VideoDeviceList().clear();
    AudioDeviceList().clear();
    VideoCompressorList().clear();
    AudioCompressorList().clear();
}

namespace {

std::string FriendlyName(IMoniker* Moniker) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(Moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) return {};
    VARIANT v;
    ::VariantInit(&v);
    std::string name;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR)
        name = WideToAnsi(v.bstrVal ? v.bstrVal : L"");
    ::VariantClear(&v);
    return name;
}

bool Blank(const std::string& S) { return S.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

bool FillDeviceList(const GUID& Category, TCapDeviceList& List, const std::string& Prefix) {
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices))))
        return false;
    ComPtr<IEnumMoniker> monikers;
    // An empty category answers S_FALSE with nothing to enumerate.
    if (devices->CreateClassEnumerator(Category, &monikers, 0) != S_OK || !monikers) {
        List.clear();
        return true;
    }
    // Filled aside and put in place whole: the message queue is serviced per device, and
    // a refresh started from a message meanwhile must not interleave with this one.
    TCapDeviceList fresh;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!moniker) continue;
        fw::App().ProcessMessages();
        auto info = std::make_unique<TCapDeviceInfo>();
        info->Name = FriendlyName(moniker.Get());
        info->Moniker = moniker;
        if (!Prefix.empty() && info->Name.compare(0, Prefix.size(), Prefix) == 0) {
            fresh.insert(fresh.begin(), std::move(info));
        } else if (!Blank(info->Name)) {
            fresh.push_back(std::move(info));
        }
    }
    List = std::move(fresh);
    return true;
}

void RefreshDeviceLists() {
    std::string hardwareId, description;
    FindUsbDevice(PreferredCameraIdent, hardwareId, description);
    const std::string prefix = description.substr(0, description.find(' '));
    if (!FillDeviceList(CLSID_VideoInputDeviceCategory, VideoDeviceList(), prefix) ||
        !FillDeviceList(CLSID_AudioInputDeviceCategory, AudioDeviceList(), std::string())) {
        VideoDeviceList().clear();
        AudioDeviceList().clear();
    }
}

void MarkCompressorListsOutdated() { g_compressorListsCurrent = false; }

void RefreshOutdatedCompressorLists() {
    if (g_compressorListsCurrent) return;
    g_compressorListsCurrent =
        FillDeviceList(CLSID_VideoCompressorCategory, VideoCompressorList(), std::string()) &&
        FillDeviceList(CLSID_AudioCompressorCategory, AudioCompressorList(), std::string());
    if (!g_compressorListsCurrent) {
        VideoCompressorList().clear();
        AudioCompressorList().clear();
    }
}
