// Shared pieces of the capture control tests: the stand-in camera's configuration, a
// form hosting one control, an event log, and registry-made devices for enumeration.
#pragma once

#include "capture/GDirectCapPin2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/support/CameraConfig.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace captest {

using testsupport::CameraConfig;
using testsupport::PumpFor;
using testsupport::PumpUntil;
using testsupport::TempFolder;

// Devices written straight into a category's registry instances, so that the system
// device enumerator lists them (they cannot be opened). Removed on destruction.
class FakeDevices {
public:
    explicit FakeDevices(const GUID& category) : category_(category) {}
    ~FakeDevices();
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;
    // The instance key decides the enumeration order (keys are listed sorted).
    void Add(const std::wstring& instanceKey, const std::wstring& friendlyName);

private:
    std::wstring InstanceRoot() const;
    GUID category_;
    std::vector<std::wstring> keys_;
};

int IndexOf(const std::vector<std::string>& names, const wchar_t* name);

// A camera format as a USB camera offers it, with the bit depth its frames have.
struct CameraFormat {
    const wchar_t* subtype;  // the camera's Subtype value; null: its default formats (MJPG)
    int16_t bits;
    const char* name;
};
inline constexpr CameraFormat kCameraFormats[] = {{nullptr, 24, "MJPG (default)"},
                                                  {L"YUY2", 16, "YUY2"},
                                                  {L"I420", 12, "I420"},
                                                  {L"UYVY", 16, "UYVY"},
                                                  {L"RGB24", 24, "RGB24"}};
std::string Narrow(const wchar_t* s);

// A form with one capture control on it, and every event of the control logged.
class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the stand-in camera (and microphone when asked); false when not listed.
    bool SelectCamera(bool withMicrophone = false);
    // Configures the camera for this format (before SelectCamera).
    void UseFormat(const CameraFormat& format);
    // Runs Body for each camera format at 640 x 480 and, where the format can change its
    // size, 1280 x 720: the camera opened in that format and size on its forward sensor,
    // the events cleared.
    void ForEachFormatAndSize(const std::function<void(const CameraFormat&, SIZE)>& Body);
    // The class ids of the filters the Smart Tee's preview output feeds, in order.
    std::vector<CLSID> PreviewChain();
    std::vector<std::string> Events();
    void ClearEvents();
    std::vector<int> Errors();
    // Waits until the video handler has seen `count` frames.
    bool WaitFrames(uint32_t count, DWORD timeoutMs = 10000);
    // Filters of the control's graph of this class (count), and the names of all.
    int CountFilters(const CLSID& clsid);
    std::vector<std::wstring> FilterNames();
    // The first filter of the control's graph of this class, none when there is none.
    Microsoft::WRL::ComPtr<IBaseFilter> GraphFilter(const CLSID& clsid);

    CameraConfig config;
    fw::Application app;
    // The floating-point control word before the control was made.
    uint16_t fpuBeforeControl = 0;
    fw::Form* form = nullptr;
    TGDirectCapPin2* cap = nullptr;
    std::atomic<uint32_t> frames{0};
    std::atomic<int32_t> lastSize{0};

private:
    void Log(const std::string& e);
    std::mutex lock_;
    std::vector<std::string> events_;
};

}  // namespace captest
