// Device enumeration: the preferred camera first (by the description the USB lookup
// gives), blank names skipped, the system's order otherwise.
#include "tests/capture/CaptureTestSupport.h"

#include "capture/CapDevices.h"
#include "devices/u_HID.h"

#include <algorithm>

using namespace captest;

namespace {

// {5E7C0A11-8B0D-4C6B-9A3E-1D2C3B4A5F60}: a category of our own for list-building cases.
constexpr GUID kTestCategory = {
    0x5e7c0a11, 0x8b0d, 0x4c6b, {0x9a, 0x3e, 0x1d, 0x2c, 0x3b, 0x4a, 0x5f, 0x60}};

std::vector<std::string> Names(const TCapDeviceList& list) {
    std::vector<std::string> names;
    for (const auto& d : list) names.push_back(d->Name);
    return names;
}

// Supplies one USB device with the camera maker's vendor id and this description.
class UsbDescription {
public:
    explicit UsbDescription(std::string description) : description_(std::move(description)) {
        previous_ = SetUsbDeviceWalk([this](const UsbDeviceVisitor& visit) {
            struct Entry final : TUsbDeviceEntry {
                const std::string* desc;
                std::string Property(DWORD p) const override {
                    return p == SPDRP_HARDWAREID ? "USB\\VID_0AC8&PID_303B&REV_0100" : *desc;
                }
            } entry;
            entry.desc = &description_;
            visit(entry);
        });
    }
    ~UsbDescription() { SetUsbDeviceWalk(previous_); }

private:
    std::string description_;
    UsbDeviceWalk previous_;
};

class DeviceListTest : public ::testing::Test {
protected:
    fw::Application app;
};

const wchar_t* const kAlpha = L"{0A000001-0000-0000-0000-000000000000}";
const wchar_t* const kBlank = L"{0A000002-0000-0000-0000-000000000000}";
const wchar_t* const kEmpty = L"{0A000003-0000-0000-0000-000000000000}";
const wchar_t* const kOmega = L"{FA000001-0000-0000-0000-000000000000}";
const wchar_t* const kOther = L"{FA000002-0000-0000-0000-000000000000}";

}  // namespace

TEST_F(DeviceListTest, WithoutPreferredPrefixTheSystemOrderStaysAndBlankNamesAreSkipped) {
    FakeDevices fake(kTestCategory);
    fake.Add(kAlpha, L"Zeta Alpha");
    fake.Add(kBlank, L"   ");
    fake.Add(kEmpty, L"");
    fake.Add(kOmega, L"Zeta Omega");
    fake.Add(kOther, L"Other Cam");
    TCapDeviceList list;
    ASSERT_TRUE(FillDeviceList(kTestCategory, list, std::string()));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Zeta Alpha", "Zeta Omega", "Other Cam"}));
    for (const auto& d : list) EXPECT_TRUE(d->Moniker);
}

TEST_F(DeviceListTest, MatchingNamesMoveToTheFrontTheLastEnumeratedFirst) {
    FakeDevices fake(kTestCategory);
    fake.Add(kAlpha, L"Zeta Alpha");
    fake.Add(kBlank, L"   ");
    fake.Add(kOmega, L"Zeta Omega");
    fake.Add(kOther, L"Other Cam");
    TCapDeviceList list;
    ASSERT_TRUE(FillDeviceList(kTestCategory, list, "Zeta"));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Zeta Omega", "Zeta Alpha", "Other Cam"}));
    // The prefix is compared case-sensitively.
    list.clear();
    FillDeviceList(kTestCategory, list, "zeta");
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Zeta Alpha", "Zeta Omega", "Other Cam"}));
}

TEST_F(DeviceListTest, AllBlankCategoryGivesAnEmptyList) {
    FakeDevices fake(kTestCategory);
    fake.Add(kBlank, L"   ");
    fake.Add(kEmpty, L"");
    TCapDeviceList list;
    EXPECT_TRUE(FillDeviceList(kTestCategory, list, std::string()));
    EXPECT_TRUE(list.empty());
}

TEST_F(DeviceListTest, BothStandInsAreListed) {
    RefreshDeviceLists();
    EXPECT_GE(IndexOf(Names(VideoDeviceList()), vcam::kCameraName), 0);
    EXPECT_GE(IndexOf(Names(AudioDeviceList()), vcam::kMicrophoneName), 0);
}

TEST_F(DeviceListTest, PreferredCameraFromTheUsbDescriptionComesFirst) {
    // A second camera listed before the stand-in by the system.
    FakeDevices fake(CLSID_VideoInputDeviceCategory);
    fake.Add(kAlpha, L"Acme Webcam");
    {
        UsbDescription none("");
        RefreshDeviceLists();
        const auto names = Names(VideoDeviceList());
        ASSERT_GE(IndexOf(names, vcam::kCameraName), 1);
        EXPECT_EQ(names.front(), "Acme Webcam");
    }
    {
        // Only the first word of the description counts.
        UsbDescription preferred("Orvix USB Camera");
        RefreshDeviceLists();
        const auto names = Names(VideoDeviceList());
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.front(), Narrow(vcam::kCameraName));
        EXPECT_EQ(IndexOf(names, L"Acme Webcam"), 1);
    }
    RefreshDeviceLists();
}

namespace {

constexpr UINT kRefreshMessage = WM_APP + 17;

LRESULT CALLBACK RefreshingWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRefreshMessage) {
        RefreshDeviceLists();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

// Enumeration services the message queue between devices; a refresh that a message
// starts in the middle of another one must not leave devices listed twice.
TEST_F(DeviceListTest, RefreshStartedFromAMessageDuringARefreshListsEachDeviceOnce) {
    FakeDevices fake(CLSID_VideoInputDeviceCategory);
    fake.Add(kAlpha, L"Acme Webcam");
    WNDCLASSW wc{};
    wc.lpfnWndProc = RefreshingWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvixNestedRefresh";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ::PostMessageW(hwnd, kRefreshMessage, 0, 0);
    RefreshDeviceLists();
    ::DestroyWindow(hwnd);
    const auto video = Names(VideoDeviceList());
    const auto audio = Names(AudioDeviceList());
    EXPECT_EQ(std::count(video.begin(), video.end(), "Acme Webcam"), 1);
    EXPECT_EQ(std::count(video.begin(), video.end(), Narrow(vcam::kCameraName)), 1);
    EXPECT_EQ(std::count(audio.begin(), audio.end(), Narrow(vcam::kMicrophoneName)), 1);
    RefreshDeviceLists();
}

// The lists hold device monikers, COM objects: the last capture control to go empties
// them while COM is still up on its thread, not at the end of the process.
TEST(DeviceLists, TheLastCaptureControlEmptiesThemWhileComIsUp) {
    fw::Application app;
    fw::Form* form = fw::NewForm<fw::Form>(&app);
    auto* first = new TGDirectCapPin2(form);
    auto* second = new TGDirectCapPin2(form);
    EXPECT_FALSE(first->VideoDeviceNames(true).empty());
    delete first;
    // Another control still uses them.
    EXPECT_FALSE(VideoDeviceList().empty());
    delete second;
    EXPECT_TRUE(VideoDeviceList().empty());
    EXPECT_TRUE(AudioDeviceList().empty());
    EXPECT_TRUE(VideoCompressorList().empty());
    EXPECT_TRUE(AudioCompressorList().empty());
    delete form;
}
