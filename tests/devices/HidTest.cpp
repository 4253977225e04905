// USB device lookup: the matching rules over a supplied device walk, and the SetupAPI walk
// itself over calls that answer as the platform does.
#include <gtest/gtest.h>

#include "devices/u_HID.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct FakeDevice {
    std::string hardwareId;
    std::string description;
};

class FakeEntry final : public TUsbDeviceEntry {
public:
    FakeEntry(const FakeDevice& d, std::vector<std::string>& reads) : d_(d), reads_(reads) {}
    std::string Property(DWORD property) const override {
        reads_.push_back(d_.hardwareId + (property == SPDRP_HARDWAREID ? "#id" : "#desc"));
        if (property == SPDRP_HARDWAREID) return d_.hardwareId;
        if (property == SPDRP_DEVICEDESC) return d_.description;
        return {};
    }

private:
    const FakeDevice& d_;
    std::vector<std::string>& reads_;
};

class HidTest : public ::testing::Test {
protected:
    void Use(std::vector<FakeDevice> devices) {
        devices_ = std::move(devices);
        previous_ = SetUsbDeviceWalk([this](const UsbDeviceVisitor& visit) {
            ++walks_;
            for (const FakeDevice& d : devices_) {
                FakeEntry entry(d, reads_);
                if (visit(entry)) return;
            }
        });
    }
    void TearDown() override { SetUsbDeviceWalk(previous_); }

    std::vector<FakeDevice> devices_;
    std::vector<std::string> reads_;
    int walks_ = 0;
    UsbDeviceWalk previous_;
};

}  // namespace

TEST_F(HidTest, MatchIsCaseInsensitiveOnBothSidesAndReportsLowerCaseId) {
    Use({{"USB\\VID_046D&PID_0825", "Other Camera"},
         {"USB\\VID_0AC8&PID_1234", "ZC0323 Camera Device"}});
    for (const char* ident : {"VID_0AC8", "vid_0ac8", "Vid_0Ac8&PID"}) {
        std::string id, desc;
        FindUsbDevice(ident, id, desc);
        EXPECT_EQ(id, "usb\\vid_0ac8&pid_1234") << ident;
        EXPECT_EQ(desc, "ZC0323 Camera Device") << ident;  // as stored, not lower-cased
    }
}

TEST_F(HidTest, FirstMatchInEnumerationOrderWinsAndLaterDevicesAreNotRead) {
    Use({{"USB\\VID_0AC8&PID_0001", "First Cam"},
         {"USB\\VID_0AC8&PID_0002", "Second Cam"},
         {"USB\\VID_1111&PID_0003", "Third"}});
    std::string id, desc;
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "usb\\vid_0ac8&pid_0001");
    EXPECT_EQ(desc, "First Cam");
    EXPECT_EQ(reads_, (std::vector<std::string>{"USB\\VID_0AC8&PID_0001#id",
                                                "USB\\VID_0AC8&PID_0001#desc"}));
}

TEST_F(HidTest, NoMatchKeepsTheCallersOutputs) {
    // An unreadable hardware id reads as empty and never matches; the walk goes on.
    Use({{"", "No Id"}, {"USB\\VID_046D&PID_0825", "Other"}});
    std::string id = "keep-id", desc = "keep-desc";
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "keep-id");
    EXPECT_EQ(desc, "keep-desc");
    EXPECT_EQ(reads_.size(), 2u);  // both ids read, no description
}

TEST_F(HidTest, BlankOrEmptyIdentPerformsNoLookup) {
    Use({{"USB\\VID_0AC8&PID_1234", "Cam"}});
    for (const char* ident : {"", " ", "    "}) {
        std::string id, desc;
        FindUsbDevice(ident, id, desc);
        EXPECT_TRUE(id.empty());
        EXPECT_TRUE(desc.empty());
    }
    EXPECT_EQ(walks_, 0);
}

TEST_F(HidTest, IdentWithSurroundingBlanksIsUsedUntrimmed) {
    Use({{"USB\\VID_0AC8&PID_1234", "Cam"}});
    std::string id, desc;
    FindUsbDevice(" vid_0ac8", id, desc);
    EXPECT_TRUE(id.empty());
}

namespace {

// SetupAPI as the platform answers: one device information set for the USB device
// interface class of present devices, interfaces by index until ERROR_NO_MORE_ITEMS,
// records whose cbSize must be the caller's sizeof, a detail call without a buffer that
// fails with ERROR_INSUFFICIENT_BUFFER yet fills the device record, and registry
// properties typed REG_MULTI_SZ (hardware ids) or REG_SZ, refused when the buffer is short.
namespace platform {

struct Device {
    std::string hardwareIds;  // REG_MULTI_SZ: strings separated by '\0', ending "\0\0"
    std::string description;  // REG_SZ, stored with its terminating zero
};

std::vector<Device> devices;
GUID askedClass{};
DWORD askedFlags = 0;
int sets = 0;
int destroyed = 0;
bool refuseSet = false;
const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<intptr_t>(0x5E7));

HDEVINFO WINAPI GetClassDevs(const GUID* cls, PCSTR, HWND, DWORD flags) {
    askedClass = cls ? *cls : GUID{};
    askedFlags = flags;
    if (refuseSet) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ++sets;
    return kSet;
}

BOOL WINAPI EnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* cls, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
    if (set != kSet || !cls || !data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= devices.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = *cls;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD required,
                                     PSP_DEVINFO_DATA info) {
    if (set != kSet || !iface || iface->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (info && info->cbSize != sizeof(SP_DEVINFO_DATA))) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (info) info->DevInst = static_cast<DWORD>(iface->Reserved);
    if (required) *required = 64;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

BOOL WINAPI GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property,
                                      PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
    if (set != kSet || !info || info->cbSize != sizeof(SP_DEVINFO_DATA) || info->DevInst == 0 ||
        info->DevInst > devices.size()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Device& d = devices[info->DevInst - 1];
    std::string value;
    DWORD kind = REG_SZ;
    if (property == SPDRP_HARDWAREID) {
        value = d.hardwareIds;
        kind = REG_MULTI_SZ;
    } else if (property == SPDRP_DEVICEDESC) {
        value = d.description + std::string(1, '\0');
    } else {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (required) *required = static_cast<DWORD>(value.size());
    if (type) *type = kind;
    if (value.size() > size || !buffer) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.data(), value.size());
    return TRUE;
}

BOOL WINAPI DestroyDeviceInfoList(HDEVINFO set) {
    if (set == kSet) ++destroyed;
    return set == kSet;
}

}  // namespace platform

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: GUID_DEVINTERFACE_USB_DEVICE.
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class HidSetupApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::devices.clear();
        platform::askedClass = GUID{};
        platform::askedFlags = 0;
        platform::sets = platform::destroyed = 0;
        platform::refuseSet = false;
        calls_.GetClassDevs = platform::GetClassDevs;
        calls_.EnumDeviceInterfaces = platform::EnumDeviceInterfaces;
        calls_.GetDeviceInterfaceDetail = platform::GetDeviceInterfaceDetail;
        calls_.GetDeviceRegistryProperty = platform::GetDeviceRegistryProperty;
        calls_.DestroyDeviceInfoList = platform::DestroyDeviceInfoList;
        previous_ = SetUsbDeviceWalk(
            [this](const UsbDeviceVisitor& visit) { SetupApiUsbDeviceWalk(visit, calls_); });
    }
    void TearDown() override { SetUsbDeviceWalk(previous_); }

    TSetupApiCalls calls_;
    UsbDeviceWalk previous_;
};

}  // namespace

TEST_F(HidSetupApiTest, PresentUsbDeviceInterfacesAreWalkedAndTheFirstHardwareIdMatched) {
    using namespace std::string_literals;
    platform::devices = {
        {"USB\\VID_046D&PID_0825&REV_0012\0USB\\VID_046D&PID_0825\0\0"s, "USB Composite Device"},
        {"USB\\VID_0AC8&PID_303B&REV_0100\0USB\\VID_0AC8&PID_303B\0\0"s, "ZC0323 USB Camera"},
        {"USB\\VID_0AC8&PID_0301&REV_0100\0\0"s, "Second Camera"},
    };
    std::string id, desc;
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(platform::askedClass, kUsbDeviceInterface);
    EXPECT_EQ(platform::askedFlags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    // The first string of the multi-string only, lower-cased.
    EXPECT_EQ(id, "usb\\vid_0ac8&pid_303b&rev_0100");
    EXPECT_EQ(desc, "ZC0323 USB Camera");
    EXPECT_EQ(platform::destroyed, platform::sets);
    EXPECT_EQ(platform::sets, 1);
}

TEST_F(HidSetupApiTest, PropertiesThatDoNotFitTheBufferReadAsEmpty) {
    using namespace std::string_literals;
    // A hardware id longer than the 256-byte buffer is refused by the platform: no match,
    // the walk goes on to the next device. 255 characters and their zero just fit.
    platform::devices = {
        {"USB\\VID_0AC8&PID_0001&"s + std::string(300, 'X') + "\0\0"s, "Too Long"},
        {"USB\\VID_0AC8&PID_0002\0\0"s, std::string(255, 'D')},
    };
    std::string id, desc;
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "usb\\vid_0ac8&pid_0002");
    EXPECT_EQ(desc, std::string(255, 'D'));
    platform::devices[1].description = std::string(256, 'E');
    id.clear();
    desc.clear();
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(desc, "");  // 257 bytes with its zero: refused as too long
}

TEST_F(HidSetupApiTest, NoDevicesOrNoSetLeavesTheOutputsAlone) {
    std::string id = "unchanged", desc = "unchanged";
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(platform::destroyed, 1);
    platform::refuseSet = true;
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(desc, "unchanged");
    EXPECT_EQ(platform::destroyed, 1);  // nothing to free for a set never made
}
