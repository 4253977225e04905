// Shared pieces of the capture control tests: the stand-in camera's configuration, a
// form hosting one control, an event log, and registry-made devices for enumeration.
#pragma once

#include "capture/GDirectCapPin2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/support/CameraConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace captest {

using testsupport::CameraConfig;

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
std::string Narrow(const wchar_t* s);

// A form with one capture control on it, and every event of the control logged.
class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the stand-in camera (and microphone when asked); false when not listed.
    bool SelectCamera(bool withMicrophone = false);
    std::vector<std::string> Events();
    void ClearEvents();
    std::vector<int> Errors();
    // Services the window queue until pred holds; pred may depend on streaming threads,
    // which post nothing, so the queue is also looked at every few milliseconds.
    template <typename Pred>
    bool PumpUntil(Pred pred, DWORD timeoutMs = 3000) {
        const DWORD start = ::GetTickCount();
        for (;;) {
            app.ProcessMessages();
            if (pred()) return true;
            if (::GetTickCount() - start >= timeoutMs) return false;
            ::MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
    void PumpFor(DWORD ms) {
        PumpUntil([] { return false; }, ms);
    }
    // Waits until the video handler has seen `count` frames.
    bool WaitFrames(uint32_t count, DWORD timeoutMs = 3000);
    // Filters of the control's graph by class id (count).
    int CountFilters(const CLSID& clsid);
    std::vector<std::wstring> FilterNames();

    CameraConfig config;
    fw::Application app;
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
