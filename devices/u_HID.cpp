#include "devices/u_HID.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

UsbDeviceWalk& CurrentWalk() {
    static UsbDeviceWalk walk;
    return walk;
}

std::string Lower(std::string S) {
    // Hardware ids are ASCII; bytes above 127 keep their value.
    for (char& c : S) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return S;
}

class TSetupApiEntry final : public TUsbDeviceEntry {
public:
    TSetupApiEntry(HDEVINFO Set, SP_DEVINFO_DATA& Info, const TSetupApiCalls& Calls)
        : set_(Set), info_(Info), calls_(Calls) {}
    std::string Property(DWORD property) const override {
        return GetDeviceProperty(set_, info_, property, calls_);
    }

private:
    HDEVINFO set_;
    SP_DEVINFO_DATA& info_;
    const TSetupApiCalls& calls_;
};

struct TDevInfoSet {
    HDEVINFO h;
    const TSetupApiCalls& calls;
    ~TDevInfoSet() {
        if (h != INVALID_HANDLE_VALUE) calls.DestroyDeviceInfoList(h);
    }
};

}  // namespace

std::string GetDeviceProperty(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA& DeviceInfo, DWORD Property,
                              const TSetupApiCalls& Calls) {
    BYTE buffer[256 + 1] = {};
    DWORD type = 0;
    if (!Calls.GetDeviceRegistryProperty(DeviceInfoSet, &DeviceInfo, Property, &type, buffer, 256,
                                         nullptr)) {
        return {};
    }
    // The extra zero byte ends a value that filled the whole buffer.
    return std::string(reinterpret_cast<const char*>(buffer),
                       strnlen(reinterpret_cast<const char*>(buffer), 256));
}

void SetupApiUsbDeviceWalk(const UsbDeviceVisitor& Visit, const TSetupApiCalls& Calls) {
    TDevInfoSet set{Calls.GetClassDevs(&kUsbDeviceInterface, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                    Calls};
    if (set.h == INVALID_HANDLE_VALUE) return;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        if (!Calls.EnumDeviceInterfaces(set.h, nullptr, &kUsbDeviceInterface, index, &iface))
            return;
        // Asked without a detail buffer only for the device record of the interface;
        // the call reports a too-small buffer but fills the record.
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(info);
        Calls.GetDeviceInterfaceDetail(set.h, &iface, nullptr, 0, nullptr, &info);
        TSetupApiEntry entry(set.h, info, Calls);
        if (Visit(entry)) return;
    }
}

UsbDeviceWalk SetUsbDeviceWalk(UsbDeviceWalk Walk) {
    return std::exchange(CurrentWalk(), std::move(Walk));
}

void FindUsbDevice(const std::string& Ident, std::string& HardwareId, std::string& Description) {
    if (Ident.find_first_not_of(' ') == std::string::npos) return;
    const std::string ident = Lower(Ident);
    const UsbDeviceVisitor visit = [&](const TUsbDeviceEntry& Device) {
        const std::string id = Lower(Device.Property(SPDRP_HARDWAREID));
        if (id.find(ident) == std::string::npos) return false;
        HardwareId = id;
        Description = Device.Property(SPDRP_DEVICEDESC);
        return true;
    };
    const UsbDeviceWalk& walk = CurrentWalk();
    if (walk)
        walk(visit);
    else
        SetupApiUsbDeviceWalk(visit);
}
