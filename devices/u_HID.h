// USB device lookup: finds a present USB device whose hardware id contains a text and
// returns that hardware id and the device's description.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <string>

// One present device as the device walk sees it: reads one registry property
// (SPDRP_HARDWAREID, SPDRP_DEVICEDESC) as ANSI text, empty when it cannot be read.
class TUsbDeviceEntry {
public:
    virtual ~TUsbDeviceEntry() = default;
    virtual std::string Property(DWORD Property) const = 0;
};

// Calls Visit for every present device exposing the USB device interface, in the
// platform's enumeration order, until Visit returns true (found) or the devices end.
using UsbDeviceVisitor = std::function<bool(const TUsbDeviceEntry& Device)>;
using UsbDeviceWalk = std::function<void(const UsbDeviceVisitor& Visit)>;

// The SetupAPI calls the walk makes; tests supply their own, answering as the platform
// does.
struct TSetupApiCalls {
    decltype(&::SetupDiGetClassDevsA) GetClassDevs = ::SetupDiGetClassDevsA;
    decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) GetDeviceInterfaceDetail =
        ::SetupDiGetDeviceInterfaceDetailA;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryProperty =
        ::SetupDiGetDeviceRegistryPropertyA;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList =
        ::SetupDiDestroyDeviceInfoList;
};

// The walk over SetupAPI (GUID_DEVINTERFACE_USB_DEVICE, present devices only).
void SetupApiUsbDeviceWalk(const UsbDeviceVisitor& Visit, const TSetupApiCalls& Calls = {});

// Replaces the device walk used by FindUsbDevice (an empty walk restores the SetupAPI
// one) and returns the previous one. Machines without USB hardware (tests under Wine)
// supply their devices this way.
UsbDeviceWalk SetUsbDeviceWalk(UsbDeviceWalk Walk);

// When a present USB device's hardware id contains Ident (both compared in lower
// case), HardwareId becomes its lower-cased hardware id and Description its device
// description; otherwise both keep what the caller passed. The first match wins.
void FindUsbDevice(const std::string& Ident, std::string& HardwareId, std::string& Description);

// One registry property of one device as ANSI text (the first entry of a multi-string),
// read through a 256-byte buffer; empty when it cannot be read.
std::string GetDeviceProperty(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA& DeviceInfo, DWORD Property,
                              const TSetupApiCalls& Calls = {});
